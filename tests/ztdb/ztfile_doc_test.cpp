// Documents named by values (the answer cache, the names never asked about, argument vectors
// that no shell touches) and renaming the four files of a database.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/document_opener.h"
#include "xbase/child_process.h"
#include "ztdb/ztnames.h"
#include "ztfile_helpers.h"

namespace {

class FakeOpener : public qv::DocumentOpener {
  public:
    FakeOpener() { previous_ = qv::setDocumentOpener(this); }
    ~FakeOpener() override { qv::setDocumentOpener(previous_); }
    bool hasProgramFor(const std::string& path) override {
        asked.push_back(path);
        return path.size() > 4 && path.compare(path.size() - 4, 4, ".txt") == 0;
    }
    bool open(const std::string& path, const std::string& folder) override {
        opened.push_back(path + "|" + folder);
        return true;
    }
    std::vector<std::string> asked, opened;

  private:
    qv::DocumentOpener* previous_;
};

TEST(ZTFileDocuments, AnswersAreCachedForTheLastTwentyNames) {
    FakeOpener fake;
    ZTFile file;
    EXPECT_TRUE(file.hasProgramFor("a.txt", "/docs", false));
    EXPECT_TRUE(file.hasProgramFor("a.txt", "/docs", false));
    EXPECT_EQ(fake.asked, std::vector<std::string>{"/docs/a.txt"});
    for (int i = 1; i <= 20; ++i)
        file.hasProgramFor(("n" + std::to_string(i) + ".x").c_str(), "", false);
    EXPECT_EQ(fake.asked.size(), 21u);
    EXPECT_TRUE(file.hasProgramFor("a.txt", "/docs", false));  // the 21st name pushed it out
    EXPECT_EQ(fake.asked.size(), 22u);
    EXPECT_FALSE(file.hasProgramFor("n20.x", "", false));  // still cached
    EXPECT_EQ(fake.asked.size(), 22u);
    EXPECT_FALSE(file.hasProgramFor("n20.x", "", true));  // asked again on request
    EXPECT_EQ(fake.asked.size(), 23u);
    EXPECT_TRUE(file.hasProgramFor("/abs/b.txt", "/docs", false));
    EXPECT_EQ(fake.asked.back(), "/abs/b.txt");
}

TEST(ZTFileDocuments, NamesWithoutAUsableExtensionAreNeverAsked) {
    FakeOpener fake;
    ZTFile file;
    const std::string refused[] = {"a.", "a. b",        "x.abcdefgh",
                                   "ab", "noextension", std::string(257, 'x') + ".txt"};
    for (const std::string& name : refused)
        EXPECT_FALSE(file.hasProgramFor(name.c_str(), "", false)) << name;
    EXPECT_TRUE(fake.asked.empty());
    const std::string asked[] = {"x.abcdefg", "a.b", std::string(256, 'x') + ".txt"};
    for (const std::string& name : asked) file.hasProgramFor(name.c_str(), "", false);
    EXPECT_EQ(fake.asked.size(), 3u);
}

// The desktop opener with fake xdg-open and xdg-mime first on PATH: each writes the arguments
// it got, one a line, to the file $ARGS_LOG.
TEST(ZTFileDocuments, NamesReachTheProgramsUnchanged) {
    TempDir dir;
    const std::string log = dir.file("args.log");
    for (const char* program : {"xdg-open", "xdg-mime"}) {
        std::ofstream script(dir.file(program));
        script << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$ARGS_LOG.tmp\"\n"
               << "mv \"$ARGS_LOG.tmp\" \"$ARGS_LOG\"\n"
               << "[ \"$2\" = filetype ] && echo text/plain\n"
               << "[ \"$2\" = default ] && echo editor.desktop\nexit 0\n";
        script.close();
        chmod(dir.file(program).c_str(), 0755);
    }
    const char* oldPath = getenv("PATH");
    std::string savedPath = oldPath != nullptr ? oldPath : "";
    setenv("PATH", (dir.path() + ":" + savedPath).c_str(), 1);
    setenv("ARGS_LOG", log.c_str(), 1);
    auto readLog = [&] {
        for (int i = 0; i < 500 && access(log.c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::string text = dbcheck::fileBytes(log);
        unlink(log.c_str());
        return text;
    };
    const std::string names[] = {"a;rm -rf x.txt", "$(touch pwned).doc", "it's \"quoted\".pdf",
                                 "  blanks  around .odt", "`id`|&.sh"};
    ZTFile file;
    for (const std::string& name : names) {
        EXPECT_TRUE(ZTFile::shellExecute(name.c_str(), dir.path().c_str(), "ignored"));
        EXPECT_EQ(readLog(), dir.path() + "/" + name + "\n");
        EXPECT_TRUE(file.hasProgramFor(name.c_str(), dir.path().c_str(), true));
        EXPECT_EQ(readLog(), "query\ndefault\ntext/plain\n");  // the second question
    }
    EXPECT_NE(access(dir.file("pwned").c_str(), F_OK), 0);
    EXPECT_NE(access("pwned", F_OK), 0);
    setenv("PATH", savedPath.c_str(), 1);
    unsetenv("ARGS_LOG");
}

bool allThere(const std::string& base) {
    for (const char* ext : kDatabaseExtensions)
        if (access((base + "." + ext).c_str(), F_OK) != 0) return false;
    return true;
}

bool noneThere(const std::string& base) {
    for (const char* ext : kDatabaseExtensions)
        if (access((base + "." + ext).c_str(), F_OK) == 0) return false;
    return true;
}

TEST(ZTFileRename, AllFourFilesOrNone) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    FilesState original = filesState(base);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, true), 3u);
    const uint32_t oldID = file.getFileID();

    // Onto an existing database: nothing moves.
    std::string otherBase = createDatabase(dir, "other");
    FilesState other = filesState(otherBase);
    EXPECT_FALSE(file.rename("other"));
    EXPECT_EQ(file.getLastError(), -1);
    EXPECT_FALSE(file.isOpen());
    EXPECT_TRUE(filesState(base) == original);
    EXPECT_TRUE(filesState(otherBase) == other);

    // Names the base-name rule would not find again.
    for (const char* bad : {"", "a/b", "a\\b", "a.b", ".", "new.ZT"}) {
        EXPECT_FALSE(file.rename(bad)) << bad;
        EXPECT_EQ(file.getLastError(), -4);
        EXPECT_TRUE(filesState(base) == original) << bad;
    }

    // The third move fails: the first two go back.
    ztFailMove(3, EIO);
    EXPECT_FALSE(file.rename("moved"));
    ztFailMove(0, 0);
    EXPECT_EQ(file.getLastError(), -4);
    EXPECT_TRUE(filesState(base) == original);
    EXPECT_TRUE(noneThere(dir.file("moved")));
    ztFailMove(2, EACCES);
    EXPECT_FALSE(file.rename("moved"));
    ztFailMove(0, 0);
    EXPECT_EQ(file.getLastError(), -14);
    EXPECT_TRUE(filesState(base) == original);

    EXPECT_TRUE(file.rename(".moved"));
    EXPECT_EQ(file.getLastError(), 0);
    EXPECT_TRUE(noneThere(base));
    EXPECT_TRUE(allThere(dir.file(".moved")));
    EXPECT_STREQ(file.getTitle(), ".moved");
    EXPECT_NE(file.getFileID(), oldID);
    EXPECT_EQ(file.getFileID(), hashString(file.getFullPath()));
    ZTRefreshInfo oldNotice, newNotice;  // notices follow the new name
    oldNotice.addByID(oldID);
    newNotice.add(&file);
    EXPECT_FALSE(file.acceptRefresh(&oldNotice));
    EXPECT_TRUE(file.acceptRefresh(&newNotice));
    EXPECT_EQ(file.open(3, true), 3u);
    EXPECT_TRUE(checkFiles(dir.file(".moved")).sound());
}

TEST(ZTFileRename, KeepsTheExtensionsLetterCase) {
    TempDir dir;
    std::string base = createDatabase(dir);
    for (const char* ext : kDatabaseExtensions) {
        std::string lower = ext;
        for (char& c : lower) c = char(std::tolower(c));
        ASSERT_EQ(std::rename((base + "." + ext).c_str(), (base + "." + lower).c_str()), 0);
    }
    ZTFile file(base.c_str());
    ASSERT_TRUE(file.rename("renamed"));
    for (const char* ext : {"zt", "ix", "zt2", "ix2"})
        EXPECT_EQ(access(dir.file(std::string("renamed.") + ext).c_str(), F_OK), 0) << ext;
}

TEST(ZTFileRename, RefusedWhileOpenElsewhere) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    FilesState original = filesState(base);
    Child other([base](int in, int out) {
        ZTFile file(base.c_str());
        answer(out, file.open(3, true) == 3 ? 'o' : 'x');
        await(in);
    });
    ASSERT_EQ(other.receive(), 'o');
    ZTFile file(base.c_str());
    EXPECT_FALSE(file.rename("moved"));
    EXPECT_EQ(file.getLastError(), -14);
    EXPECT_TRUE(filesState(base) == original);
    other.send('q');
}

}  // namespace
