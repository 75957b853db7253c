// When a numeric table cannot be allocated the process prints what it could
// not get on standard output and exits with status 1. Each case runs in a
// child process whose address space is capped.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "design/tables.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVRIN_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TAVRIN_UNDER_SANITIZER 1
#endif
#endif

namespace {

struct ChildOutcome {
  bool exited = false;
  int status = -1;
  std::string out;
};

// Runs `body` in a child limited to 512 MB of address space and collects
// what it writes to standard output.
ChildOutcome runCapped(const std::function<void()>& body) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[1]);
    const rlimit cap{512ul << 20, 512ul << 20};
    setrlimit(RLIMIT_AS, &cap);
    body();
    _exit(0);  // the allocation succeeded: not what the test expects
  }
  close(pipeFds[1]);
  ChildOutcome outcome;
  char buffer[256];
  ssize_t got = 0;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) outcome.out.append(buffer, static_cast<std::size_t>(got));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  outcome.exited = WIFEXITED(status);
  outcome.status = outcome.exited ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::string format(const char* fmt, int a, int b) {
  char text[128];
  std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

bool underValgrind() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "vgpreload") != nullptr;
}

class OutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef TAVRIN_UNDER_SANITIZER
    GTEST_SKIP() << "sanitizers reserve more address space than the cap allows";
#endif
    if (underValgrind()) GTEST_SKIP() << "valgrind manages the address space itself";
  }
};

TEST_F(OutOfMemory, TwoLevelTableReportsWhatItCouldNotGet) {
  struct Case {
    std::size_t rows, cols;
    std::string expected;
  };
  const std::size_t huge = std::size_t{1} << 40;
  const Case cases[] = {
      // The element block: rows x cols, printed as int (wrapping, as the C text does).
      {100000, 100000,
       "\nInsufficient memory, mass1 v mass2" +
           format("\n N=%d  Nbite=%d", static_cast<int>(std::size_t{100000} * 100000), 4)},
      // No element to hold but too many rows for the row array.
      {huge, 0, "\nInsufficient memory, mass2 v mass2" + format("\n N=%d  Nbite=%d", static_cast<int>(huge), 4)},
  };
  for (const Case& c : cases) {
    const ChildOutcome outcome = runCapped([&] { tavrin::allocTable<float>(c.rows, c.cols); });
    EXPECT_TRUE(outcome.exited) << c.rows << " x " << c.cols;
    EXPECT_EQ(outcome.status, 1) << c.rows << " x " << c.cols;
    EXPECT_EQ(outcome.out, c.expected) << c.rows << " x " << c.cols;
  }
}

TEST_F(OutOfMemory, TriangularTableReportsWhatItCouldNotGet) {
  {
    const std::size_t layers = 100000, rows = 1000, perLayer = rows * (rows + 1) / 2;
    char detail[160];
    std::snprintf(detail, sizeof detail, "\n Ntrg=%d  Nkat=%d  m=%d  N=%d  Nbite=%d", static_cast<int>(layers),
                  static_cast<int>(rows), static_cast<int>(perLayer), static_cast<int>(layers * perLayer), 4);
    const ChildOutcome outcome = runCapped([&] { tavrin::allocTriangularTable<float>(layers, rows); });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, std::string("\nInsufficient memory, mass1 v mass3 ") + detail);
  }
  {
    // Layers of width 0 need no element and no row, only the layer array.
    const std::size_t layers = std::size_t{1} << 40;
    const ChildOutcome outcome = runCapped([&] { tavrin::allocTriangularTable<float>(layers, 0); });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out,
              "\nInsufficient memory, mass3 v mass3" + format("\n N=%d  Nbite=%d", static_cast<int>(layers), 4));
  }
}

// A table that fits is allocated normally under the same cap.
TEST_F(OutOfMemory, SmallTablesStillFitUnderTheCap) {
  const ChildOutcome outcome = runCapped([] {
    tavrin::Table<float> table = tavrin::allocTable<float>(21, 386);
    tavrin::TriangularTable<float> coef = tavrin::allocTriangularTable<float>(21, 21);
    std::fputs(table && coef ? "ok" : "empty", stdout);
    std::fflush(stdout);
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "ok");
}

}  // namespace
