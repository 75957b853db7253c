// The study file under hostile or concurrent use: crafted text is refused
// with its position or path, saves keep the file's identity (mode, links),
// and writers of one file do not lose each other's updates.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "refused.h"
#include "study/scratch_folder.h"
#include "tavrin/study.h"
#include "tavrin/study_file.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

Study smallStudy() {
  Study study(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, "g"}, {"B", 1.3, 2.9, ""}, {"C", -0.7, 0.3, ""}},
              {{"Yield", "%"}, {"Purity", ""}}, {.seed = 11});
  study.setResult(4, "Yield", 0.1 + 0.2);
  return study;
}

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// `text` with `insert` placed right after the first `after`.
std::string inserted(std::string text, const std::string& after, const std::string& insert) {
  const std::size_t at = text.find(after);
  EXPECT_NE(at, std::string::npos) << after;
  return text.insert(at + after.size(), insert);
}

std::string refusal(const std::string& text) {
  return testing::refused<ParseError>([&] { (void)Study::fromJson(text, "s.json"); }).what;
}

unsigned modeOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

TEST(StudyFileText, DeepNestingIsRefusedWherePositionedNotCrashed) {
  const std::string text = smallStudy().toJson();
  const std::string deep = std::string(300000, '[') + std::string(300000, ']');
  for (const std::string& after : {std::string("{"), std::string("\"results\": [")}) {
    const std::string edited = inserted(text, after, after == "{" ? "\"x\": " + deep + "," : deep + ",");
    try {
      (void)Study::fromJson(edited, "s.json");
      ADD_FAILURE() << "accepted after " << after;
    } catch (const ParseError& e) {
      EXPECT_NE(std::string(e.what()).find("deeper than"), std::string::npos) << e.what();
      EXPECT_GT(e.line(), 0u) << e.what();
    }
  }
  // The bound leaves room: brackets inside strings do not count.
  EXPECT_EQ(refusal(inserted(text, "\"unit\": \"g", std::string(60, '['))), "accepted");
}

TEST(StudyFileText, UnknownAndRepeatedMembersAreRefusedWithTheirPath) {
  const std::string text = smallStudy().toJson();
  const struct {
    const char* after;
    const char* insert;
    const char* mention;
  } cases[] = {
      {"{", "\"comment\": \"mine\",", "s.json: comment: is not a member"},
      {"\"name\": \"B\",", " \"step\": 0.1,", "factors[1].step: is not a member"},
      {"\"name\": \"Purity\",", " \"colour\": null,", "responses[1].colour: is not a member"},
      {"{", "\"seed\": 12,", "\"seed\" twice"},
      {"\"name\": \"A\",", " \"name\": \"A2\",", "\"name\" twice"},
  };
  for (const auto& c : cases) {
    const std::string message = refusal(inserted(text, c.after, c.insert));
    EXPECT_NE(message.find(c.mention), std::string::npos) << c.insert << " -> " << message;
  }
  // A newer version is refused for its version, not for members it may add.
  std::string newer = inserted(text, "{", "\"comment\": 1,");
  newer.replace(newer.find("\"version\": 5"), 12, "\"version\": 6");
  EXPECT_NE(refusal(newer).find("newer than this library reads"), std::string::npos) << refusal(newer);
}

TEST(StudyFileSave, ReplacesAnExistingFileKeepingItsMode) {
  const testing::ScratchFolder folder;
  const std::string path = folder / "study.json";
  writeText(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const Study study = smallStudy();
  study.save(path);
  EXPECT_EQ(modeOf(path), 0640u);
  EXPECT_TRUE(Study::load(path) == study);
  // Nothing but the study file is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(StudyFileSave, RefusesAReadOnlyFileAndLeavesIt) {
  const testing::ScratchFolder folder;
  const std::string path = folder / "study.json";
  smallStudy().save(path);
  const std::string before = contentOf(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  Study changed = smallStudy();
  changed.setResult(2, "Yield", 7.3);
  EXPECT_TRUE(testing::refused<FileError>([&] { changed.save(path); }).mentions("read-only"));
  EXPECT_EQ(contentOf(path), before);
  EXPECT_EQ(modeOf(path), 0444u);
}

TEST(StudyFileSave, WritesThroughASymbolicLinkToItsTarget) {
  const testing::ScratchFolder folder;
  fs::create_directory(folder.path() / "data");
  const std::string target = folder / "data/study.json";
  smallStudy().save(target);
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  const std::string link = folder / "link.json";
  fs::create_symlink("data/study.json", link);  // relative, as users make them

  Study changed = smallStudy();
  changed.setResult(3, "Purity", 0.7);
  changed.save(link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(Study::load(target) == changed);
  EXPECT_EQ(modeOf(target), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path() / "data"), fs::directory_iterator()), 1);
}

TEST(StudyFileLocking, OneHolderAtATimeAndTheLockFollowsAReplacedFile) {
  const testing::ScratchFolder folder;
  const std::string path = folder / "study.json";
  smallStudy().save(path);
  {
    const StudyFileLock held(path);
    EXPECT_FALSE(StudyFileLock::tryAcquire(path).has_value());
  }
  std::optional<StudyFileLock> again = StudyFileLock::tryAcquire(path);
  ASSERT_TRUE(again.has_value());
  // A save renames a new file over the locked one: the new file is free.
  smallStudy().save(path);
  EXPECT_TRUE(StudyFileLock::tryAcquire(path).has_value());
  EXPECT_THROW(StudyFileLock(folder / "absent.json"), FileError);
}

// Two processes each enter one result by read-modify-write under the lock.
// The parent takes the lock first and then lets the child go for it, so the
// child waits and reads the parent's update whatever the scheduling.
TEST(StudyFileLocking, TwoWritersKeepBothUpdates) {
  const testing::ScratchFolder folder;
  const std::string path = folder / "study.json";
  smallStudy().save(path);
  const auto enter = [&path](int run, double value) {
    Study study = Study::load(path);
    study.setResult(run, "Purity", value);
    study.save(path);
  };
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char byte = 0;
    try {
      if (::read(go[0], &byte, 1) != 1) ::_exit(1);
      const StudyFileLock lock(path);
      enter(2, 0.2);
      ::_exit(0);
    } catch (...) {
      ::_exit(1);
    }
  }
  {
    const StudyFileLock lock(path);
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    enter(1, 0.1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const Study both = Study::load(path);
  EXPECT_EQ(both.result(1, "Purity"), 0.1);
  EXPECT_EQ(both.result(2, "Purity"), 0.2);
}

TEST(StudyFileStamp, SavingOverAFileChangedSinceReadingIsRefused) {
  const testing::ScratchFolder folder;
  const std::string path = folder / "study.json";
  smallStudy().save(path);
  StampedStudy mine = loadStamped(path);
  EXPECT_EQ(mine.stamp, stampOf(path));

  Study theirs = smallStudy();
  theirs.setResult(5, "Yield", 0.9);
  theirs.save(path);
  mine.study.setResult(6, "Yield", 0.4);
  EXPECT_THROW(saveIfUnchanged(mine.study, path, mine.stamp), FileChanged);
  EXPECT_TRUE(Study::load(path) == theirs);

  // After reading it again the save goes through, and its stamp is the file's.
  mine = loadStamped(path);
  mine.study.setResult(6, "Yield", 0.4);
  const FileStamp written = saveIfUnchanged(mine.study, path, mine.stamp);
  EXPECT_EQ(written, stampOf(path));
  EXPECT_EQ(Study::load(path).result(5, "Yield"), 0.9);

  // A file deleted since, or created where none was, is a change too.
  fs::remove(path);
  EXPECT_THROW(saveIfUnchanged(mine.study, path, written), FileChanged);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_NO_THROW(saveIfUnchanged(mine.study, path, FileStamp{}));
  EXPECT_THROW(saveIfUnchanged(mine.study, path, FileStamp{}), FileChanged);
}

}  // namespace
}  // namespace tavrin
