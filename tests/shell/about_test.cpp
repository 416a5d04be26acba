// The about box inside the test program: its component rows and wimlib
// line, and the update check against an HTTP server on the loopback
// interface run by this test (up to date, newer, 404, nobody listening, an
// answer too long to be an update file, one that never ends), including a
// box closed while its check still runs.
#include <winsock2.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "app/about_dlg.h"
#include "app/quarry_app.h"
#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "shell_test_util.h"
#include "win/message_box.h"

namespace {
using namespace qtest;
using namespace shelltest;

// A one-file HTTP server on 127.0.0.1: every request gets `status` and
// `body`, after `delayMs`; or, after Stream(), a 200 answer without a length
// whose body is `head` and then `chunk` every `periodMs`, until the client
// goes away or `limit` bytes have been sent.
class LoopbackServer {
 public:
  LoopbackServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 4);
    thread_ = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
  }
  ~LoopbackServer() {
    stop_ = true;
    closesocket(listener_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
  }
  void Answer(int status, const std::string& body, DWORD delayMs = 0) {
    status_ = status;
    body_ = body;
    delayMs_ = delayMs;
    streaming_ = false;
  }
  void Stream(const std::string& head, const std::string& chunk, DWORD periodMs, size_t limit) {
    body_ = head;
    chunk_ = chunk;
    delayMs_ = periodMs;
    limit_ = limit;
    streaming_ = true;
  }
  size_t streamed() const { return streamed_; }
  bool clientLeft() const { return clientLeft_; }
  std::wstring Host() const { return L"127.0.0.1:" + std::to_wstring(port_); }
  int requests() const { return requests_; }
  int replies() const { return replies_; }
  std::string lastRequest() const { return lastRequest_; }

 private:
  static DWORD WINAPI Serve(void* self) {
    auto* server = static_cast<LoopbackServer*>(self);
    while (!server->stop_) {
      SOCKET client = accept(server->listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) break;
      char buffer[4096];
      int got = recv(client, buffer, sizeof buffer, 0);
      server->lastRequest_.assign(buffer, got > 0 ? got : 0);
      server->requests_++;
      if (server->streaming_) {
        server->SendStream(client);
        closesocket(client);
        server->replies_++;
        continue;
      }
      Sleep(server->delayMs_);
      std::string body = server->body_;
      std::string reply = "HTTP/1.0 " + std::to_string(server->status_) +
                          (server->status_ == 200 ? " OK" : " Not Found") +
                          "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body;
      send(client, reply.data(), static_cast<int>(reply.size()), 0);
      shutdown(client, SD_SEND);
      closesocket(client);
      server->replies_++;
    }
    return 0;
  }

  void SendStream(SOCKET client) {
    std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + body_;
    if (send(client, head.data(), static_cast<int>(head.size()), 0) <= 0) return;
    streamed_ = 0;
    while (!stop_ && streamed_ < limit_) {
      if (delayMs_) Sleep(delayMs_);
      if (send(client, chunk_.data(), static_cast<int>(chunk_.size()), 0) <= 0) {
        clientLeft_ = true;
        return;
      }
      streamed_ += chunk_.size();
    }
    shutdown(client, SD_SEND);
  }

  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  HANDLE thread_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> replies_{0};
  std::string lastRequest_;
  int status_ = 200;
  std::string body_;
  DWORD delayMs_ = 0;
  bool streaming_ = false;
  std::string chunk_;
  size_t limit_ = 0;
  std::atomic<size_t> streamed_{0};
  std::atomic<bool> clientLeft_{false};
};

const char kNewerHead[] = "[VER]\r\nNew=20160101A\r\nInfo=big\r\n";
const std::string kPadding = std::string(255, 'x') + "\n";

// A port on which nobody listens: bound, then closed again.
int UnusedPort() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(s);
  return ntohs(address.sin_port);
}

class AboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = std::make_unique<CQuarryApp>();
    app_->settingsPath = TempDir() + L"\\Quarry.ini";
    app_->InitInstance();
    SetMessageBoxHandler([this](HWND, const std::wstring& text, const std::wstring&, UINT) {
      messages_.push_back(text);
      return IDNO;  // never open a web page from a test
    });
  }
  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    if (about_ && about_->hwnd()) DestroyWindow(about_->hwnd());
    Flush();
    about_.reset();
    app_.reset();
  }
  void Open() {
    about_ = std::make_unique<CAboutDlg>(*app_);
    ASSERT_TRUE(about_->Create(nullptr));
    ShowWindow(about_->hwnd(), SW_SHOW);
  }
  // Presses "检查更新..." and waits for the one message it leads to.
  std::wstring Check() {
    messages_.clear();
    ClickButton(about_->hwnd(), IDC_ABOUT_CHECK);
    if (!WaitUntil([&] { return !messages_.empty(); }, 60000)) return L"(no message)";
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(about_->hwnd(), IDC_ABOUT_CHECK)) != FALSE; }));
    return messages_.front();
  }

  std::unique_ptr<CQuarryApp> app_;
  std::unique_ptr<CAboutDlg> about_;
  std::vector<std::wstring> messages_;
};

TEST_F(AboutTest, ComponentRowsAndTheWimlibLine) {
  Open();
  const auto& rows = about_->rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].name, L"wimgapi.dll");
  EXPECT_EQ(rows[1].name, L"wimserv.exe");
  EXPECT_EQ(rows[2].name, L"wimmount.sys");
  EXPECT_EQ(rows[3].name, L"");
  ASSERT_TRUE(app_->backends.WimlibAvailable());
  EXPECT_EQ(about_->WimlibLine(), L"Wimlib:   OK!");
  EXPECT_EQ(WindowText(about_->hwnd()), L"关于 Quarry");
  ShotIfAsked("about");
  DestroyWindow(about_->hwnd());

  app_->backends.wimlib = WimlibTable();
  Open();
  EXPECT_EQ(about_->WimlibLine(), L"Wimlib:   Failed!");
}

TEST_F(AboutTest, UpdateCheckAgainstALoopbackServer) {
  LoopbackServer server;
  app_->settings.updateHost = server.Host();
  Open();

  server.Answer(200, "[VER]\r\nNew=20150515A\r\nInfo=1.2.1\r\n");
  EXPECT_EQ(Check(), L"您目前使用的是本软件的最新版!");
  EXPECT_NE(server.lastRequest().find("GET /software/quarry/quarry.tmp"), std::string::npos) << server.lastRequest();
  EXPECT_NE(server.lastRequest().find("Tarnix/1.0"), std::string::npos);

  server.Answer(200, "[VER]\r\nNew=20160101A\r\nInfo=1.3.0\r\n");
  EXPECT_EQ(Check(), L"发现最新版本可用(1.3.0)。是否要下载?");

  // A refused download is a failure, never an offer read from an old copy.
  server.Answer(404, "not here");
  EXPECT_EQ(Check(), L"无法检查更新: 无法连接到服务器或服务器拒绝了请求.");

  app_->settings.updateHost = L"127.0.0.1:" + std::to_wstring(UnusedPort());
  EXPECT_EQ(Check(), L"无法检查更新: 无法连接到服务器或服务器拒绝了请求.");
}

TEST_F(AboutTest, ClosingTheBoxDuringACheckLeavesTheCheckNothingToTouch) {
  LoopbackServer server;
  server.Answer(200, "[VER]\r\nNew=20160101A\r\nInfo=late\r\n", 1500);
  app_->settings.updateHost = server.Host();
  Open();
  ClickButton(about_->hwnd(), IDC_ABOUT_CHECK);
  // The check's own thread, whatever other threads the click started (the
  // download's, or Wine's on its first use of the network). The server
  // answers only after its delay, so the thread is still there to open.
  ASSERT_NE(about_->checkThreadId(), 0u);
  HANDLE check = OpenThread(SYNCHRONIZE, FALSE, about_->checkThreadId());
  ASSERT_TRUE(check);
  ASSERT_TRUE(WaitUntil([&] { return server.requests() == 1; }, 30000));
  DestroyWindow(about_->hwnd());
  about_.reset();
  // The answer arrives after the box is gone; the check reads it and must
  // then leave everything alone, up to its end and what it posted.
  ASSERT_TRUE(WaitUntil([&] { return server.replies() == 1; }, 30000));
  EXPECT_TRUE(WaitUntil([&] { return WaitForSingleObject(check, 0) == WAIT_OBJECT_0; }, 30000));
  CloseHandle(check);
  Flush();
  EXPECT_TRUE(messages_.empty());
}
TEST_F(AboutTest, AnAnswerLongerThanAnUpdateFileIsNotBelieved) {
  LoopbackServer server;
  app_->settings.updateHost = server.Host();
  Open();
  // Just under the limit: an update file with room to spare is read whole.
  std::string padded = "[VER]\r\nNew=20150515A\r\nInfo=1.2.1\r\n";
  while (padded.size() + kPadding.size() < 60000) padded += kPadding;
  server.Answer(200, padded);
  EXPECT_EQ(Check(), L"您目前使用的是本软件的最新版!");
  // Far longer (64 MiB, sent as fast as it goes): the check stops reading
  // and reports a failure instead of an offer from the first lines.
  server.Stream(kNewerHead, std::string(64 * 1024, 'x'), 0, 64u << 20);
  EXPECT_EQ(Check(), L"无法检查更新: 无法连接到服务器或服务器拒绝了请求.");
}

TEST_F(AboutTest, AnEndlessTrickleEndsTheCheckWithinItsOverallLimit) {
  LoopbackServer server;
  // Every read gets data in time, so only a limit on the whole check ends it.
  server.Stream(kNewerHead, kPadding, 100, 64u << 20);
  app_->settings.updateHost = server.Host();
  Open();
  DWORD start = GetTickCount();
  EXPECT_EQ(Check(), L"无法检查更新: 无法连接到服务器或服务器拒绝了请求.");
  EXPECT_LT(GetTickCount() - start, 40000u);
  EXPECT_LT(server.streamed(), 64u * 1024);
}

TEST_F(AboutTest, ClosingTheBoxStopsADownloadInProgress) {
  LoopbackServer server;
  server.Stream(kNewerHead, kPadding, 100, 64u << 20);
  app_->settings.updateHost = server.Host();
  Open();
  ClickButton(about_->hwnd(), IDC_ABOUT_CHECK);
  ASSERT_TRUE(WaitUntil([&] { return server.streamed() > 2048; }, 30000));
  DestroyWindow(about_->hwnd());
  about_.reset();
  // The client lets go of the connection soon after, not at the limit.
  EXPECT_TRUE(WaitUntil([&] { return server.clientLeft(); }, 8000)) << server.streamed();
  EXPECT_TRUE(messages_.empty());
}
}  // namespace
