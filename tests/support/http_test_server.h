// A small HTTP/1.1 server for the icon tests on 127.0.0.1 (port 0 picks a free
// one). Each path answers with a fixed response, unknown paths get 404. Every
// connection is served on a thread of its own and closed after one response,
// so the peak number of open connections is how many requests a client had
// open at once.
#pragma once

#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

struct http_response_t {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool no_length = false;          // no Content-Length: the body ends with the connection
  bool chunked = false;            // Transfer-Encoding: chunked, chunks of 1, 7, 49... bytes
  std::uint64_t filler_bytes = 0;  // a body of this many 'x' bytes, generated
  bool endless = false;            // 'x' bytes until the client or the server goes
  DWORD header_delay_ms = 0;       // before anything is sent
  DWORD trickle_ms = 0;            // one body byte each interval
};

class http_test_server_t {
 public:
  explicit http_test_server_t(u_short port = 0) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    int size = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(m_listener, 64) != 0) {
      ::closesocket(m_listener);
      m_listener = INVALID_SOCKET;
      return;
    }
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { accept_loop(); });
  }
  // Stops accepting, ends every connection and waits for their threads.
  ~http_test_server_t() {
    m_stopping = true;
    if (m_acceptor.joinable())
      m_acceptor.join();
    for (auto& worker : m_workers)
      worker.join();
    if (m_listener != INVALID_SOCKET)
      ::closesocket(m_listener);
    ::WSACleanup();
  }

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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = std::move(response);
  }
  // The paths asked for, in order.
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }
  int peak_connections() const { return m_peak; }

 private:
  void accept_loop() {
    while (!m_stopping) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(m_listener, &set);
      timeval wait{0, 20000};
      SOCKET client = ::select(0, &set, nullptr, nullptr, &wait) > 0
                          ? ::accept(m_listener, nullptr, nullptr)
                          : INVALID_SOCKET;
      if (client == INVALID_SOCKET)
        continue;
      const int now = ++m_open;
      for (int peak = m_peak; now > peak && !m_peak.compare_exchange_weak(peak, now);) {
      }
      m_workers.emplace_back([this, client] {
        serve(client);
        --m_open;  // answered: what follows is the client's closing
        linger(client);
        ::closesocket(client);
      });
    }
  }

  bool send_all(SOCKET s, const char* data, std::size_t size) {
    for (int sent = 0; size > 0; data += sent, size -= static_cast<std::size_t>(sent)) {
      sent = m_stopping ? -1
                        : ::send(s, data, static_cast<int>(std::min<std::size_t>(size, 65536)), 0);
      if (sent <= 0)
        return false;
    }
    return true;
  }
  bool send_all(SOCKET s, const std::string& text) { return send_all(s, text.data(), text.size()); }

  // Sleeps in short steps; false when the server stops meanwhile.
  bool pause(DWORD ms) {
    for (DWORD slept = 0; slept < ms && !m_stopping; slept += 10)
      ::Sleep(10);
    return !m_stopping;
  }

  void serve(SOCKET s) {
    DWORD timeout = 50;  // so that a stop is noticed while waiting
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      const int got = ::recv(s, buffer, sizeof buffer, 0);
      if (m_stopping || head.size() > 65536 || got == 0 ||
          (got < 0 && ::WSAGetLastError() != WSAETIMEDOUT))
        return;
      head.append(buffer, static_cast<std::size_t>(std::max(got, 0)));
    }
    const std::size_t space = head.find(' ');
    const std::string path = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
    http_response_t response;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(path);
      const auto found = m_routes.find(path);
      if (found != m_routes.end())
        response = found->second;
      else
        response.status = 404;
    }
    respond(s, response);
  }

  void respond(SOCKET s, const http_response_t& r) {
    std::string head = "HTTP/1.1 " + std::to_string(r.status) + " Status\r\nConnection: close\r\n";
    for (const auto& [name, value] : r.headers)
      head += name + ": " + value + "\r\n";
    if (r.chunked)
      head += "Transfer-Encoding: chunked\r\n";
    else if (!r.no_length && !r.endless)
      head += "Content-Length: " + std::to_string(r.filler_bytes ? r.filler_bytes : r.body.size()) +
              "\r\n";
    if (!pause(r.header_delay_ms) || !send_all(s, head + "\r\n"))
      return;
    const std::string block(65536, 'x');
    for (std::uint64_t left = r.filler_bytes; r.endless || left > 0;) {
      const std::size_t n = static_cast<std::size_t>(
          r.endless ? block.size() : std::min<std::uint64_t>(left, block.size()));
      if (!send_all(s, block.data(), n))
        return;
      left -= r.endless ? 0 : n;
    }
    if (r.chunked) {
      std::string coded;
      for (std::size_t at = 0, n = 1; at < r.body.size(); at += n, n *= 7) {
        char size[24];
        std::snprintf(size, sizeof size, "%zx\r\n", std::min(n, r.body.size() - at));
        coded += size + r.body.substr(at, n) + "\r\n";
      }
      send_all(s, coded + "0\r\n\r\n");
    } else if (!r.trickle_ms) {
      send_all(s, r.body);
    }
    for (std::size_t at = 0; r.trickle_ms && at < r.body.size(); ++at)
      if (!pause(r.trickle_ms) || !send_all(s, &r.body[at], 1))
        return;
  }

  // Lets the client read to the end before the socket goes.
  void linger(SOCKET s) {
    ::shutdown(s, SD_SEND);
    char sink[512];
    for (int i = 0, got = 1; i < 100 && !m_stopping && got != 0; ++i) {
      got = ::recv(s, sink, sizeof sink, 0);
      if (got < 0 && ::WSAGetLastError() != WSAETIMEDOUT)
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
  std::map<std::string, http_response_t> m_routes;
  std::vector<std::string> m_requests;
  std::vector<std::thread> m_workers;
};

}  // namespace testsupport
