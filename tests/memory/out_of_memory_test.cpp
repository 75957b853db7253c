// When a numeric table cannot be allocated the process prints what it could not
// get on standard output and exits with status 1 (the sizes printed as int).
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

// Runs `body` in the death test's child with the address space capped at 512 MB and standard output sent to
// standard error, which the death test compares with the expected text.
void capped(void (*body)()) {
  const rlimit cap{512ul << 20, 512ul << 20};
  dup2(STDERR_FILENO, STDOUT_FILENO), setrlimit(RLIMIT_AS, &cap), body();
}

class OutOfMemory : public ::testing::Test {
  void SetUp() override {
#ifdef TAVRIN_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than the cap allows";
#endif
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "vgpreload")) GTEST_SKIP() << "valgrind manages the address space itself";
  }
};

TEST_F(OutOfMemory, TwoLevelTable) {  // 10^10 elements; 2^40 rows of no element: only the row array
  EXPECT_EXIT(capped([] { tavrin::allocTable<float>(100000, 100000); }), ::testing::ExitedWithCode(1),
              "^\nInsufficient memory, mass1 v mass2\n N=1410065408  Nbite=4$");
  EXPECT_EXIT(capped([] { tavrin::allocTable<float>(std::size_t{1} << 40, 0); }), ::testing::ExitedWithCode(1),
              "^\nInsufficient memory, mass2 v mass2\n N=0  Nbite=4$");
}

TEST_F(OutOfMemory, TriangularTable) {  // 10^5 layers of 1000 rows (500500 elements each); 2^40 empty layers
  EXPECT_EXIT(capped([] { tavrin::allocTriangularTable<float>(100000, 1000); }), ::testing::ExitedWithCode(1),
              "^\nInsufficient memory, mass1 v mass3 \n Ntrg=100000  Nkat=1000  m=500500  N=-1489607552  Nbite=4$");
  EXPECT_EXIT(capped([] { tavrin::allocTriangularTable<float>(std::size_t{1} << 40, 0); }), ::testing::ExitedWithCode(1),
              "^\nInsufficient memory, mass3 v mass3\n N=0  Nbite=4$");
}

}  // namespace
