// Allocation failures injected at every allocation in turn: no exception
// crosses Load, assignment leaves the target as it was, and a fit that
// cannot get its scratch ends the process like a numeric table that cannot
// be allocated, printing what it could not get.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>

#include "design/tables.h"
#include "plan/study_fixture.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVRIN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TAVRIN_SANITIZED 1
#endif
#endif

namespace {
// Allocations left before one fails; negative: none fails. The failure is
// transient: the allocations after it succeed again.
std::atomic<long> allocationsLeft{-1};
}  // namespace

#ifndef TAVRIN_SANITIZED
// The replacements pair malloc with free; GCC cannot see through inlined uses.
// They are never inlined nor cloned (noipa), so that valgrind, which replaces
// both operators with its own, never sees its new paired with an inlined or
// cloned free, or a cloned new with its delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
__attribute__((noipa)) void* operator new(std::size_t size) {
  long left = allocationsLeft.load();
  while (left >= 0 && !allocationsLeft.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
__attribute__((noipa)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noipa)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {
using namespace tavrin_test;

// The sanitizers and valgrind provide operator new and manage the address space themselves.
void skipWhenSanitized() {
#ifdef TAVRIN_SANITIZED
  GTEST_SKIP() << "the sanitizers provide operator new and reserve address space themselves";
#endif
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload && std::strstr(preload, "vgpreload")) GTEST_SKIP() << "valgrind provides operator new";
}

// Each failing allocation in turn; Load reports it as code 21 "Can not load from file." with nothing changed
// or, inside planCompute, "Can not compute plan.".
TEST(AllocationFailure, LoadFailsWithACodeAndAnAllowedState) {
  skipWhenSanitized();
  if (testing::Test::IsSkipped()) return;
  const std::string path = testing::TempDir() + "tavrin-alloc-" + std::to_string(getpid()) + ".plan";
  auto source = makeStudy(CTavrin::BoxBehnkenPlan, 2, 1, Stage::Modeled);
  ASSERT_EQ(source->Save(path.c_str(), 1).code, 0u);
  bool completed = false;
  for (long k = 0; !completed && k < 2000; ++k) {
    auto s = makeStudy(CTavrin::BoxBehnkenPlan, 0, 1);  // n = 2 after Load: a fit without scratch
    const std::wstring before = snapshot(*s);
    unsigned version = 0;
    Result r;
    allocationsLeft = k;
    try {
      r = s->Load(path.c_str(), version);
    } catch (...) {
      allocationsLeft = -1;
      FAIL() << "an exception crossed Load at allocation " << k;
    }
    completed = allocationsLeft.exchange(-1) >= 0;
    const std::wstring message = r.message;
    if (message == L"Tavrin Error. Load(). Can not load from file.") EXPECT_EQ(snapshot(*s), before) << k;
    else if (!completed) EXPECT_EQ(message, L"Tavrin Error. Load(). Can not compute plan.") << k;
    else EXPECT_EQ(r.code, 0u);
  }
  EXPECT_TRUE(completed);
  std::remove(path.c_str());
}

// An assignment that runs out of memory leaves the target exactly as it was.
TEST(AllocationFailure, AssignmentIsAllOrNothing) {
  skipWhenSanitized();
  if (testing::Test::IsSkipped()) return;
  auto source = makeStudy(CTavrin::RechschafnerPlan, 4, 3, Stage::Optimized);  // larger than the target
  bool completed = false;
  for (long k = 0; !completed && k < 2000; ++k) {
    auto target = makeStudy(CTavrin::BoxBehnkenPlan, 3, 2, Stage::Modeled);
    const std::wstring before = snapshot(*target);
    allocationsLeft = k;
    try {
      *target = *source;
    } catch (const std::bad_alloc&) {
      allocationsLeft = -1;
      EXPECT_EQ(snapshot(*target), before) << k;
      continue;
    }
    completed = allocationsLeft.exchange(-1) >= 0;
    EXPECT_EQ(snapshot(*target), snapshot(*source)) << k;
  }
  EXPECT_TRUE(completed);
}

// The fit's scratch is numeric storage: without memory the process ends with status 1.
// The child is a fresh process: exit() there must not run this process's
// static destructors, which remove other tests' scratch directories.
TEST(AllocationFailureDeathTest, FitWithoutMemoryEndsTheProcess) {
  skipWhenSanitized();
  if (testing::Test::IsSkipped()) return;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto s = makeStudy(CTavrin::RechschafnerPlan, 4, 1, Stage::Planned);
  EXPECT_EXIT((std::fflush(stdout), dup2(STDERR_FILENO, STDOUT_FILENO), allocationsLeft = 0, s->modelCompute()),
              testing::ExitedWithCode(1), "^\nInsufficient memory, model fit\n N=15  Nbite=8$");
}

// Runs `body` in the death test's child capped at 512 MB, with standard output sent to standard error.
void capped(void (*body)()) {
  const rlimit cap{512ul << 20, 512ul << 20};
  dup2(STDERR_FILENO, STDOUT_FILENO), setrlimit(RLIMIT_AS, &cap), body();
}

TEST(OutOfMemory, TwoLevelAndTriangularTables) {  // sizes are printed as int, so they wrap
  skipWhenSanitized();
  if (testing::Test::IsSkipped()) return;
  EXPECT_EXIT(capped([] { tavrin::allocTable<float>(100000, 100000); }), ::testing::ExitedWithCode(1),
              "^\nInsufficient memory, mass1 v mass2\n N=1410065408  Nbite=4$");
  EXPECT_EXIT(capped([] { tavrin::allocTriangularTable<float>(100000, 1000); }), ::testing::ExitedWithCode(1),
              "^\nInsufficient memory, mass1 v mass3 \n"
              " Ntrg=100000  Nkat=1000  m=500500  N=-1489607552  Nbite=4$");
}

}  // namespace
