#include "host/connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace host {

namespace {

constexpr int kSendTimeoutSeconds = 30;
constexpr int kDrainMilliseconds = 500;
constexpr size_t kDrainBytes = 64 * 1024;

using Clock = std::chrono::steady_clock;

// Waits for bytes to read; false when the time ran out.
bool WaitReadable(int socket, Clock::time_point deadline) {
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd wanted = {socket, POLLIN, 0};
    const int ready = poll(&wanted, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace

Connection::Connection(int socket) : socket_(socket) {
  const timeval sendTimeout = {kSendTimeoutSeconds, 0};
  setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
}

Connection::~Connection() { close(socket_); }

HeadRead Connection::ReadHead(std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  HeadRead read;
  std::string bytes;
  char piece[4096];
  while (true) {
    ParseResult parsed = ParseRequestHead(bytes);
    switch (parsed.status) {
      case ParseStatus::kComplete:
        read.outcome = HeadOutcome::kRequest;
        read.request = std::move(parsed.request);
        return read;
      case ParseStatus::kMalformed:
        read.outcome = HeadOutcome::kMalformed;
        return read;
      case ParseStatus::kTooLarge:
        read.outcome = HeadOutcome::kTooLarge;
        return read;
      case ParseStatus::kIncomplete:
        break;
    }
    if (!WaitReadable(socket_, deadline)) {
      read.outcome = HeadOutcome::kTimedOut;
      return read;
    }
    const ssize_t got = recv(socket_, piece, sizeof piece, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      read.outcome = HeadOutcome::kClosed;
      return read;
    }
    read.gotBytes = true;
    bytes.append(piece, static_cast<size_t>(got));
  }
}

bool Connection::Send(std::string_view bytes) {
  while (!failed_ && !bytes.empty()) {
    const ssize_t sent = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      failed_ = true;
      break;
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return !failed_;
}

bool Connection::ClientConnected() {
  if (failed_) return false;
  pollfd state = {socket_, POLLIN | POLLRDHUP, 0};
  if (poll(&state, 1, 0) <= 0) return true;
  if ((state.revents & (POLLERR | POLLHUP | POLLRDHUP)) != 0) return false;
  char byte;
  return recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
}

void Connection::Finish() {
  shutdown(socket_, SHUT_WR);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kDrainMilliseconds);
  char piece[4096];
  size_t drained = 0;
  while (drained < kDrainBytes && WaitReadable(socket_, deadline)) {
    const ssize_t got = recv(socket_, piece, sizeof piece, MSG_DONTWAIT);
    if (got <= 0) break;
    drained += static_cast<size_t>(got);
  }
}

}  // namespace host
