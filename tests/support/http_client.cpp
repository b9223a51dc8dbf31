#include "tests/support/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace testing_support {

HttpConnection::HttpConnection(int port, int timeoutSeconds, const char* from) {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const timeval timeout = {timeoutSeconds, 0};
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (from != nullptr) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    inet_pton(AF_INET, from, &source.sin_addr);
    bind(socket_, reinterpret_cast<sockaddr*>(&source), sizeof source);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socket_);
    socket_ = -1;
  }
}

HttpConnection::~HttpConnection() {
  if (socket_ >= 0) close(socket_);
}

bool HttpConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

bool HttpConnection::Fill() {
  char piece[65536];
  const ssize_t got = recv(socket_, piece, sizeof piece, 0);
  if (got <= 0) return false;
  buffer_.append(piece, static_cast<size_t>(got));
  return true;
}

bool HttpConnection::ClosedByServer(int milliseconds) {
  pollfd ready = {socket_, POLLIN, 0};
  if (poll(&ready, 1, milliseconds) <= 0) return false;
  char byte;
  return recv(socket_, &byte, 1, MSG_PEEK) <= 0;
}

std::optional<HttpReply> HttpConnection::Read(bool headRequest) {
  size_t headEnd = 0;
  while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill()) return std::nullopt;
  }
  HttpReply reply;
  const std::string head = buffer_.substr(0, headEnd + 2);
  buffer_.erase(0, headEnd + 4);
  if (!head.starts_with("HTTP/1.")) return std::nullopt;
  reply.status = std::atoi(head.c_str() + 9);
  for (size_t line = head.find("\r\n") + 2; line < head.size();) {
    const size_t end = head.find("\r\n", line);
    const size_t colon = head.find(':', line);
    if (colon == std::string::npos || colon > end) break;
    std::string name = head.substr(line, colon - line);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t value = colon + 1;
    while (value < end && head[value] == ' ') ++value;
    reply.headers[name] = head.substr(value, end - value);
    line = end + 2;
  }
  if (headRequest || reply.status == 304 || reply.status == 204 || reply.status / 100 == 1) {
    reply.complete = true;
    return reply;
  }
  const auto coding = reply.headers.find("transfer-encoding");
  if (coding != reply.headers.end() && coding->second == "chunked") {
    reply.chunked = true;
    while (true) {
      size_t lineEnd = 0;
      while ((lineEnd = buffer_.find("\r\n")) == std::string::npos) {
        if (!Fill()) return reply;
      }
      const size_t size = std::strtoul(buffer_.c_str(), nullptr, 16);
      while (buffer_.size() < lineEnd + 2 + size + 2) {
        if (!Fill()) return reply;
      }
      if (buffer_.compare(lineEnd + 2 + size, 2, "\r\n") != 0) return reply;
      reply.body.append(buffer_, lineEnd + 2, size);
      buffer_.erase(0, lineEnd + 2 + size + 2);
      if (size == 0) break;
    }
    reply.complete = true;
    return reply;
  }
  const auto length = reply.headers.find("content-length");
  if (length != reply.headers.end()) {
    const size_t size = std::strtoul(length->second.c_str(), nullptr, 10);
    while (buffer_.size() < size) {
      if (!Fill()) break;
    }
    reply.complete = buffer_.size() >= size;
    reply.body = buffer_.substr(0, size);
    buffer_.erase(0, reply.body.size());
    return reply;
  }
  while (Fill()) {
  }
  reply.body = std::move(buffer_);
  buffer_.clear();
  reply.complete = true;
  return reply;
}

HttpReply Exchange(int port, std::string_view request) {
  HttpConnection connection(port);
  if (!connection.Send(request)) return {};
  return connection.Read(request.starts_with("HEAD ")).value_or(HttpReply{});
}

HttpReply Get(int port, std::string_view target, std::string_view headers) {
  return Exchange(port, "GET " + std::string(target) +
                            " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
                            std::string(headers) + "\r\n");
}

}  // namespace testing_support
