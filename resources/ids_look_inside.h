// Identifiers: Information page and dialog, browser page, mount manager.
#pragma once
