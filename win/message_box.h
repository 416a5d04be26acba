// Every message box of the program goes through AppMessageBox, so that tests
// can answer modal questions without a person at the screen.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

typedef std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style)>
    MessageBoxHandler;

// Shows a message box (or asks the installed handler) and returns the button.
int AppMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style);

// Installs a handler that answers instead of the real box; empty restores the
// real box. Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
