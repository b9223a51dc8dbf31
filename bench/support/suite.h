// The side of the benchmark protocol a C++ suite runs (bench/run.py drives it):
//   --list                  one JSON line per operation: {"op", "threaded", "fresh_process",
//                           "note" (why no peer does the same work, where none does, or
//                           where a peer's settings differ from Vellum's), "own_threads"
//                           (set where it runs on a thread count of its own)}
//   --serve                 reads "RUN <op> <photo> <threads>" lines, answers one JSON line
//                           each: {"seconds": s} plus {"bytes": n} for operations that
//                           write a file, or {"skip": why}
//   --once <op> <photo> <threads>   runs the operation once in this process (for peak memory)
// Each measurement runs the operation once, or as often as needed to fill 20 ms, after
// one warm-up run when its input was first prepared.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace bench_support {

// What an operation's preparation leaves for its runs.
struct State {
  virtual ~State() = default;
};

struct Operation {
  std::string name;
  bool threaded = false;  // the thread count changes how it runs
  bool freshProcess = false;
  // Builds the input for one photo ("medium", "large").
  std::function<std::unique_ptr<State>(const std::string& photo)> prepare;
  // Runs once; returns the bytes of the file written, or 0 for none.
  std::function<size_t(State&)> run;
  // Why no peer does the same work, where none does, or where a peer's settings
  // differ from Vellum's.
  std::string note = {};
  // Runs on a thread count of its own whatever the row's, so it is no peer for the ratio.
  bool ownThreads = false;
};

using ThreadSetter = std::function<void(int threads)>;

inline double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

inline std::string Measure(const Operation& op, State& state) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  size_t bytes = op.run(state);
  int runs = 1;
  while (Seconds(Clock::now() - start) < 0.02) {
    bytes = op.run(state);
    ++runs;
  }
  std::ostringstream out;
  out << "{\"seconds\": " << Seconds(Clock::now() - start) / runs;
  if (bytes != 0) out << ", \"bytes\": " << bytes;
  out << "}";
  return out.str();
}

inline const Operation* Find(const std::vector<Operation>& ops, const std::string& name) {
  for (const Operation& op : ops) {
    if (op.name == name) return &op;
  }
  return nullptr;
}

inline int ServeSuite(int argc, char** argv, const std::vector<Operation>& ops,
                      const ThreadSetter& setThreads) {
  const std::string command = argc > 1 ? argv[1] : "--list";
  if (command == "--list") {
    for (const Operation& op : ops) {
      std::cout << "{\"op\": \"" << op.name
                << "\", \"threaded\": " << (op.threaded ? "true" : "false")
                << ", \"fresh_process\": " << (op.freshProcess ? "true" : "false");
      if (!op.note.empty()) std::cout << ", \"note\": \"" << op.note << "\"";
      if (op.ownThreads) std::cout << ", \"own_threads\": true";
      std::cout << "}\n";
    }
    return 0;
  }
  if (command == "--once" && argc == 5) {
    const Operation* op = Find(ops, argv[2]);
    if (op == nullptr) return 2;
    setThreads(std::atoi(argv[4]));
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<State> state = op->prepare(argv[3]);
    op->run(*state);
    std::cout << "{\"seconds\": " << Seconds(std::chrono::steady_clock::now() - start) << "}\n";
    return 0;
  }
  if (command != "--serve") {
    std::cerr << "usage: " << argv[0] << " --list | --serve | --once OP PHOTO THREADS\n";
    return 2;
  }
  std::string prepared;  // op and photo of the state held
  std::unique_ptr<State> state;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream request(line);
    std::string verb, name, photo;
    int threads = 1;
    request >> verb >> name >> photo >> threads;
    const Operation* op = Find(ops, name);
    if (op == nullptr) {
      std::cout << "{\"skip\": \"unknown operation\"}" << std::endl;
      continue;
    }
    setThreads(threads);
    try {
      if (prepared != name + " " + photo) {
        state.reset();
        state = op->prepare(photo);
        prepared = name + " " + photo;
        op->run(*state);  // warm-up
      }
      std::cout << Measure(*op, *state) << std::endl;
    } catch (const std::exception& failure) {
      prepared.clear();
      std::cout << "{\"skip\": \"" << failure.what() << "\"}" << std::endl;
    }
  }
  return 0;
}

}  // namespace bench_support
