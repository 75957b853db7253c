// A table that cannot be allocated makes the process print what it could not get and exit with status 1.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "design/tables.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVRIN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TAVRIN_SANITIZED 1
#endif
#endif

namespace {

// Runs `body` in the death test's child capped at 512 MB, with standard output sent to standard error.
void capped(void (*body)()) {
  const rlimit cap{512ul << 20, 512ul << 20};
  dup2(STDERR_FILENO, STDOUT_FILENO), setrlimit(RLIMIT_AS, &cap), body();
}

TEST(OutOfMemory, TwoLevelAndTriangularTables) {  // sizes are printed as int, so they wrap
#ifdef TAVRIN_SANITIZED
  GTEST_SKIP() << "sanitizers reserve more address space than the cap allows";
#endif
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload && std::strstr(preload, "vgpreload")) GTEST_SKIP() << "valgrind manages the address space";
  EXPECT_EXIT(capped([] { tavrin::allocTable<float>(100000, 100000); }), ::testing::ExitedWithCode(1),
              "^\nInsufficient memory, mass1 v mass2\n N=1410065408  Nbite=4$");
  EXPECT_EXIT(capped([] { tavrin::allocTriangularTable<float>(100000, 1000); }), ::testing::ExitedWithCode(1),
              "^\nInsufficient memory, mass1 v mass3 \n"
              " Ntrg=100000  Nkat=1000  m=500500  N=-1489607552  Nbite=4$");
}

}  // namespace
