// A small HTTP/1.1 server for the icon tests, on 127.0.0.1 (port 0 picks a
// free one). Each path answers with a fixed response or a function of the
// request; unknown paths get 404. Every connection is served on a thread of
// its own and closed after one response, so the peak number of connections at
// once is the number of requests a client had open at once.
//
//   testsupport::http_test_server_t server;
//   server.route("/i.ico", {.headers = {{"Content-Type", "image/x-icon"}}, .body = bytes});
//   fetch(server.url("/i.ico"));
//   EXPECT_EQ(server.requests().size(), 1u);
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

struct http_request_t {
  std::string path;
  std::string head;  // the request line and headers as received
};

struct http_response_t {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool chunked = false;            // Transfer-Encoding: chunked, in pieces of 100 bytes
  bool no_length = false;          // no Content-Length: the body ends with the connection
  std::uint64_t filler_bytes = 0;  // a body of this many 'x' bytes, generated
  bool endless = false;            // 'x' bytes until the client or the server goes
  DWORD header_delay_ms = 0;       // before anything is sent
  DWORD trickle_ms = 0;            // one body byte each interval
};

class http_test_server_t {
 public:
  using handler_t = std::function<http_response_t(const http_request_t&)>;

  explicit http_test_server_t(u_short port = 0) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 64) != 0) {
      ::closesocket(m_listener);
      m_listener = INVALID_SOCKET;
      return;
    }
    int size = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { accept_loop(); });
  }

  ~http_test_server_t() { stop(); }
  http_test_server_t(const http_test_server_t&) = delete;
  http_test_server_t& operator=(const http_test_server_t&) = delete;

  bool ok() const { return m_listener != INVALID_SOCKET; }
  u_short port() const { return m_port; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
  }
  std::wstring wurl(const std::string& path) const {
    const std::string text = url(path);
    return std::wstring(text.begin(), text.end());
  }

  void route(const std::string& path, http_response_t response) {
    route(path, [response](const http_request_t&) { return response; });
  }
  void route(const std::string& path, handler_t handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = std::move(handler);
  }

  std::vector<http_request_t> requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }
  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (const auto& r : requests())
      out.push_back(r.path);
    return out;
  }
  int peak_connections() const { return m_peak; }

  // Stops accepting, ends every connection and waits for their threads.
  void stop() {
    if (m_stopping.exchange(true))
      return;
    if (m_acceptor.joinable())
      m_acceptor.join();
    if (m_listener != INVALID_SOCKET)
      ::closesocket(m_listener);
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      workers.swap(m_workers);
    }
    for (auto& worker : workers)
      worker.join();
    ::WSACleanup();
  }

 private:
  void accept_loop() {
    while (!m_stopping && m_listener != INVALID_SOCKET) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(m_listener, &set);
      timeval wait{0, 20000};
      if (::select(0, &set, nullptr, nullptr, &wait) <= 0)
        continue;
      SOCKET client = ::accept(m_listener, nullptr, nullptr);
      if (client == INVALID_SOCKET)
        continue;
      const int now = ++m_open;
      int peak = m_peak;
      while (now > peak && !m_peak.compare_exchange_weak(peak, now)) {
      }
      std::lock_guard<std::mutex> lock(m_mutex);
      m_workers.emplace_back([this, client] {
        serve(client);
        --m_open;  // answered: what follows is the client's closing
        linger(client);
        ::closesocket(client);
      });
    }
  }

  bool send_all(SOCKET s, const char* data, std::size_t size) {
    while (size > 0) {
      if (m_stopping)
        return false;
      const int sent = ::send(s, data, static_cast<int>(std::min<std::size_t>(size, 65536)), 0);
      if (sent <= 0)
        return false;
      data += sent;
      size -= static_cast<std::size_t>(sent);
    }
    return true;
  }
  bool send_all(SOCKET s, const std::string& text) { return send_all(s, text.data(), text.size()); }

  // Sleeps in short steps; false when the server stops meanwhile.
  bool pause(DWORD ms) {
    for (DWORD slept = 0; slept < ms; slept += 10) {
      if (m_stopping)
        return false;
      ::Sleep(10);
    }
    return !m_stopping;
  }

  void serve(SOCKET s) {
    DWORD timeout = 50;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (m_stopping || head.size() > 65536)
        return;
      const int got = ::recv(s, buffer, sizeof buffer, 0);
      if (got == 0)
        return;
      if (got < 0) {
        if (::WSAGetLastError() == WSAETIMEDOUT)
          continue;
        return;
      }
      head.append(buffer, static_cast<std::size_t>(got));
    }
    http_request_t request;
    request.head = head.substr(0, head.find("\r\n\r\n"));
    const std::size_t space = head.find(' ');
    request.path = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
    handler_t handler;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(request);
      const auto found = m_routes.find(request.path);
      if (found != m_routes.end())
        handler = found->second;
    }
    http_response_t response;
    if (handler)
      response = handler(request);
    else
      response.status = 404;
    respond(s, response);
  }

  void respond(SOCKET s, const http_response_t& r) {
    if (r.header_delay_ms && !pause(r.header_delay_ms))
      return;
    std::string head = "HTTP/1.1 " + std::to_string(r.status) + " Status\r\nConnection: close\r\n";
    for (const auto& [name, value] : r.headers)
      head += name + ": " + value + "\r\n";
    const std::uint64_t length = r.filler_bytes ? r.filler_bytes : r.body.size();
    if (r.chunked)
      head += "Transfer-Encoding: chunked\r\n";
    else if (!r.no_length && !r.endless)
      head += "Content-Length: " + std::to_string(length) + "\r\n";
    head += "\r\n";
    if (!send_all(s, head))
      return;
    if (r.endless) {
      const std::string block(16384, 'x');
      while (send_all(s, block) && (!r.trickle_ms || pause(r.trickle_ms))) {
      }
    } else if (r.trickle_ms) {
      for (char c : r.body)
        if (!pause(r.trickle_ms) || !send_all(s, &c, 1))
          return;
    } else if (r.chunked) {
      for (std::size_t at = 0; at < r.body.size(); at += 100) {
        const std::string piece = r.body.substr(at, 100);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        if (!send_all(s, size) || !send_all(s, piece + "\r\n"))
          return;
      }
      send_all(s, "0\r\n\r\n");
    } else if (r.filler_bytes) {
      const std::string block(65536, 'x');
      for (std::uint64_t left = r.filler_bytes; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        if (!send_all(s, block.data(), n))
          return;
        left -= n;
      }
    } else {
      send_all(s, r.body);
    }
  }

  // Lets the client read to the end before the socket goes.
  void linger(SOCKET s) {
    ::shutdown(s, SD_SEND);
    for (int i = 0; i < 100 && !m_stopping; ++i) {
      char sink[512];
      const int got = ::recv(s, sink, sizeof sink, 0);
      if (got == 0 || (got < 0 && ::WSAGetLastError() != WSAETIMEDOUT))
        break;
    }
  }

  SOCKET m_listener = INVALID_SOCKET;
  u_short m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_open{0};
  std::atomic<int> m_peak{0};
  std::thread m_acceptor;
  mutable std::mutex m_mutex;
  std::map<std::string, handler_t> m_routes;
  std::vector<http_request_t> m_requests;
  std::vector<std::thread> m_workers;
};

}  // namespace testsupport
