// One Dictionary and one Images collection shared by many threads at once: reading,
// writing, loading files and enumerating. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "tests/support/automation.h"
#include "tests/support/oracle.h"
#include "tests/support/registry_sandbox.h"
#include "tests/vellumset/vellumset_objects.h"
#include "vellumset/read_write_lock.h"

namespace {

using testing_support::Automation;
using testing_support::CallResult;
using vellumset::ReadWriteLock;
using Texts = std::vector<std::u16string>;

std::u16string Text(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Runs the functions on threads of their own and joins them. When `finished` does not
// become true within the time allowed, a thread is stuck for good (a deadlock, or a
// writer starved by readers): the test ends the process rather than hang.
void RunTogether(const std::vector<std::function<void()>>& work, const std::atomic<bool>* finished,
                 std::chrono::seconds allowed) {
  std::vector<std::thread> threads;
  for (const auto& function : work) threads.emplace_back(function);
  const auto deadline = std::chrono::steady_clock::now() + allowed;
  while (finished != nullptr && !finished->load()) {
    if (std::chrono::steady_clock::now() > deadline) {
      std::fprintf(stderr, "threads still blocked after %llds\n",
                   static_cast<long long>(allowed.count()));
      std::abort();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (std::thread& thread : threads) thread.join();
}

// The marks a thread leaves, in the order they are left.
class Journal {
 public:
  void Mark(const std::string& what) {
    std::lock_guard hold(mutex_);
    marks_.push_back(what);
  }
  std::vector<std::string> Marks() {
    std::lock_guard hold(mutex_);
    return marks_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> marks_;
};

TEST(ConcurrencyReadWriteLock, AWaitingWriterGoesBeforeNewReaders) {
  ReadWriteLock lock;
  ASSERT_TRUE(lock.Usable());
  Journal journal;
  std::atomic<bool> writerStarting{false};
  lock.AcquireShared();
  std::thread writer([&] {
    writerStarting = true;
    lock.AcquireExclusive();
    journal.Mark("writer");
    lock.Release();
  });
  while (!writerStarting) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the writer now waits
  std::thread reader([&] {
    lock.AcquireShared();
    journal.Mark("reader");
    lock.Release();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  journal.Mark("first reader leaves");
  lock.Release();
  writer.join();
  reader.join();
  EXPECT_EQ(journal.Marks(), (std::vector<std::string>{"first reader leaves", "writer", "reader"}));
}

TEST(ConcurrencyReadWriteLock, AWriterLeavingLetsEveryWaitingReaderInAtOnce) {
  ReadWriteLock lock;
  constexpr int kReaders = 4;
  std::mutex mutex;
  std::condition_variable changed;
  int inside = 0;
  int allInside = 0;
  lock.AcquireExclusive();
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&] {
      lock.AcquireShared();
      std::unique_lock hold(mutex);
      ++inside;
      changed.notify_all();
      // Readers let in one at a time would never all be inside together.
      if (changed.wait_for(hold, std::chrono::seconds(20), [&] { return inside == kReaders; })) {
        ++allInside;
      }
      hold.unlock();
      lock.Release();
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  lock.Release();
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(allInside, kReaders);
  lock.AcquireExclusive();  // and the lock is free again once they have left
  lock.Release();
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override { vellumset_testing::RegisterProgIds(); }

  testing_support::RegistrySandbox sandbox_;
};

// The keys of a snapshot, counted by the file they came from ("f<n>-..." keys).
std::map<char16_t, int> FileKeyCounts(const Texts& keys) {
  std::map<char16_t, int> counts;
  for (const std::u16string& key : keys) {
    if (key.size() > 2 && key[0] == u'f' && key[2] == u'-') ++counts[key[1]];
  }
  return counts;
}

// LoadItems replaces the content in one step: a snapshot holds one whole file or none.
void ExpectWholeFiles(const Texts& keys, int linesPerFile) {
  const std::map<char16_t, int> counts = FileKeyCounts(keys);
  EXPECT_LE(counts.size(), 1u);
  for (const auto& [file, count] : counts) EXPECT_EQ(count, linesPerFile) << char(file);
}

TEST_F(ConcurrencyTest, ReadersWritersLoadersAndEnumeratorsShareOneDictionary) {
  ComPtr<IDispatch> dictionary = vellumset_testing::CreateDispatch(vellumset::CLSID_Dictionary);
  constexpr int kFiles = 3;
  constexpr int kLines = 60;
  for (int f = 0; f < kFiles; ++f) {
    std::string text;
    for (int i = 0; i < kLines; ++i)
      text += "f" + std::to_string(f) + "-" + std::to_string(i) + "=x\r\n";
    testing_support::WriteFileBytes(sandbox_.Directory().File("items" + std::to_string(f)),
                                    std::vector<uint8_t>(text.begin(), text.end()));
  }
  std::atomic<bool> stop{false};
  std::atomic<int> busy{0};
  std::vector<std::function<void()>> work;
  for (int t = 0; t < 2; ++t) {
    work.push_back([&, t] {
      Automation script(dictionary.Get());
      for (int i = 0; i < 60; ++i) {
        const std::u16string file =
            Text(sandbox_.Directory().File("items" + std::to_string((t + i) % kFiles)));
        EXPECT_EQ(script.Call(u"LoadItems", file.c_str()).hr, S_OK);
      }
      --busy;
    });
  }
  for (int t = 0; t < 3; ++t) {
    work.push_back([&, t] {
      Automation script(dictionary.Get());
      for (int i = 0; i < 1000; ++i) {
        const std::u16string key = Text("w" + std::to_string(t) + "-" + std::to_string(i % 40));
        script.Call(u"Add", key.c_str(), i);
        script.Put(u"Key", key.c_str(), -i);
        if (i % 3 == 0) script.Call(u"Remove", key.c_str());
      }
      --busy;
    });
  }
  for (int t = 0; t < 3; ++t) {
    work.push_back([&, t] {
      Automation script(dictionary.Get());
      while (!stop) {
        ExpectWholeFiles(vellumset_testing::TextsOf(script.Call(u"Keys").value), kLines);
        script.Get(u"Item", t);
        script.Get(u"Item", u"f1-7");
        script.Call(u"Exists", u"w1-3");
        script.Call(u"Items");
        EXPECT_GE(script.Get(u"Count").Long(), 0);
      }
    });
  }
  work.push_back([&] {
    Automation script(dictionary.Get());
    while (!stop) {
      ComPtr<IEnumVARIANT> keys;
      script.Call(u"_NewEnum").value.punkVal->QueryInterface(IID_IEnumVARIANT, keys.ReceiveVoid());
      Texts seen;
      for (Variant key; keys->Next(1, &key, nullptr) == S_OK; key = Variant()) {
        seen.emplace_back(BstrView(key.bstrVal));
      }
      ExpectWholeFiles(seen, kLines);
    }
  });
  busy = 5;
  work.push_back([&] {
    while (busy > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
  });
  RunTogether(work, &stop, std::chrono::seconds(240));
}

// Writers keep getting the lock while readers never stop asking for it, and every
// write that completed is there afterwards, in the order its writer made it.
TEST_F(ConcurrencyTest, WritersAreNotStarvedAndEveryWriteStays) {
  ComPtr<IDispatch> dictionary = vellumset_testing::CreateDispatch(vellumset::CLSID_Dictionary);
  constexpr int kWriters = 3;
  constexpr int kWrites = 1500;
  std::atomic<int> writing{kWriters};
  std::atomic<bool> writersDone{false};
  std::vector<std::function<void()>> work;
  auto key = [](int writer, int i) {
    return Text("v" + std::to_string(writer) + "-" + std::to_string(i));
  };
  for (int t = 0; t < kWriters; ++t) {
    work.push_back([&, t] {
      Automation script(dictionary.Get());
      for (int i = 0; i < kWrites; ++i) {
        script.Call(u"Add", key(t, i).c_str(), i);
        if (i % 5 == 0) script.Call(u"Remove", key(t, i).c_str());
        if (i % 7 == 0) script.Put(u"Key", key(t, i).c_str(), -i);
      }
      if (--writing == 0) writersDone = true;
    });
  }
  for (int t = 0; t < 4; ++t) {
    work.push_back([&] {
      Automation script(dictionary.Get());
      while (!writersDone) {
        script.Call(u"Keys");
        script.Call(u"Exists", u"v0-1");
      }
    });
  }
  RunTogether(work, &writersDone, std::chrono::seconds(240));

  Automation script(dictionary.Get());
  const Texts keys = vellumset_testing::TextsOf(script.Call(u"Keys").value);
  for (int t = 0; t < kWriters; ++t) {
    Texts expected;
    Texts mine;
    for (int i = 0; i < kWrites; ++i) {
      if (i % 5 != 0 || i % 7 == 0) expected.push_back(key(t, i));
    }
    const std::u16string prefix = Text("v" + std::to_string(t) + "-");
    for (const std::u16string& k : keys) {
      if (k.starts_with(prefix)) mine.push_back(k);
    }
    EXPECT_EQ(mine, expected);
    EXPECT_EQ(script.Get(u"Item", key(t, 14).c_str()).Long(), -14);
    EXPECT_EQ(script.Get(u"Item", key(t, 13).c_str()).Long(), 13);
  }
}

TEST_F(ConcurrencyTest, OfLoadsOfOneNewNameAtOnceExactlyOneWins) {
  ComPtr<IDispatch> images = vellumset_testing::CreateDispatch(vellumset::CLSID_Images);
  constexpr int kLoaders = 4;
  constexpr int kNames = 200;
  const std::string file = sandbox_.Directory().File("image.bin");
  testing_support::WriteFileBytes(file, {0xFF, 0xD8, 0xFF});
  std::vector<std::atomic<int>> winners(kNames);
  for (auto& winner : winners) winner = -1;
  std::atomic<int> wins{0};
  std::atomic<int> loading{kLoaders};
  std::atomic<bool> stop{false};
  std::vector<std::function<void()>> work;
  for (int t = 0; t < kLoaders; ++t) {
    work.push_back([&, t] {
      Automation script(images.Get());
      for (int n = 0; n < kNames; ++n) {
        const std::u16string name = Text("name-" + std::to_string(n));
        const CallResult loaded =
            t == 0 ? script.Call(u"LoadImage", name.c_str(), Text(file).c_str())
                   : script.Call(u"LoadImage", name.c_str(),
                                 testing_support::ByteArray({uint8_t(t), uint8_t(n)}));
        if (loaded.hr == S_OK) {
          int none = -1;
          EXPECT_TRUE(winners[n].compare_exchange_strong(none, t));
          ++wins;
        } else {
          EXPECT_EQ(loaded.description, name + u" already exists in the collection");
        }
      }
      if (--loading == 0) stop = true;
    });
  }
  for (int t = 0; t < 2; ++t) {
    work.push_back([&, t] {
      Automation script(images.Get());
      while (!stop) {
        script.Get(u"Item", t);
        script.Call(u"SaveImage", u"name-3");
        script.Get(u"Count");
        ComPtr<IEnumVARIANT> all;
        script.Get(u"_NewEnum").value.punkVal->QueryInterface(IID_IEnumVARIANT, all.ReceiveVoid());
        for (Variant image; all->Next(1, &image, nullptr) == S_OK; image = Variant()) {
          EXPECT_EQ(Automation(image.pdispVal).Get(u"Ordinal").Long(), 0);
        }
      }
    });
  }
  RunTogether(work, &stop, std::chrono::seconds(240));

  Automation script(images.Get());
  EXPECT_EQ(wins, kNames);
  EXPECT_EQ(script.Get(u"Count").Long(), kNames);
  for (int n = 0; n < kNames; ++n) {
    const int winner = winners[n];
    const std::vector<uint8_t> expected = winner == 0
                                              ? std::vector<uint8_t>{0xFF, 0xD8, 0xFF}
                                              : std::vector<uint8_t>{uint8_t(winner), uint8_t(n)};
    EXPECT_EQ(testing_support::ArrayBytes(
                  script.Call(u"SaveImage", Text("name-" + std::to_string(n)).c_str()).value),
              expected);
  }
}

}  // namespace
