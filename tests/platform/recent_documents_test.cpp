#include "platform/recent_documents.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "platform/launcher.h"
#include "temp_folder.h"

namespace {

using qv::RecentResult;

// A list as the desktop's programs write it, with entries that are not local files.
const std::string kDesktopList = R"(<?xml version="1.0" encoding="UTF-8"?>
<xbel version="1.0"
      xmlns:bookmark="http://www.freedesktop.org/standards/desktop-bookmarks"
      xmlns:mime="http://www.freedesktop.org/standards/shared-mime-info"
>
  <bookmark href="file:///home/me/old.txt" added="2023-01-02T10:00:00Z" modified="2023-01-02T10:00:00Z" visited="2023-01-02T10:00:00Z">
    <info>
      <metadata owner="http://freedesktop.org">
        <mime:mime-type type="text/plain"/>
        <bookmark:applications>
          <bookmark:application name="gedit" exec="&apos;gedit %u&apos;" modified="2023-01-02T10:00:00Z" count="1"/>
        </bookmark:applications>
      </metadata>
    </info>
  </bookmark>
  <bookmark href="file:///home/me/My%20Notes/caf%C3%A9%26co.zt" added="2023-05-01T08:00:00.250000Z" modified="2024-02-01T08:00:00.250000Z" visited="2023-05-01T08:00:00Z">
    <info>
      <metadata owner="http://freedesktop.org">
        <mime:mime-type type="application/octet-stream"/>
      </metadata>
    </info>
  </bookmark>
  <bookmark href="https://example.org/page" added="2024-03-01T00:00:00Z" modified="2024-03-01T00:00:00Z" visited="2024-03-01T00:00:00Z"/>
  <bookmark href="file://otherhost/share/x.txt" added="2024-03-02T00:00:00Z" modified="2024-03-02T00:00:00Z" visited="2024-03-02T00:00:00Z"/>
  <!-- a comment the desktop may leave -->
  <bookmark href="file://localhost/home/me/local.txt" added="2023-06-01T00:00:00Z" modified="2023-06-01T00:00:00Z" visited="2023-12-24T12:00:00.5Z"/>
  <bookmark href="file:///home/me/bad%2" added="2024-04-01T00:00:00Z" modified="2024-04-01T00:00:00Z" visited="2024-04-01T00:00:00Z"/>
</xbel>
)";

class RecentList : public ::testing::Test {
  protected:
    TempFolder dir;
    std::string list = dir / "share/recently-used.xbel";

    // Runs the independent check of one entry (Python's xml.etree).
    bool checkedByPython(const std::string& path, const std::string& count, int bookmarks) {
        std::string error;
        pid_t pid = qv::spawnProcess({"/usr/bin/python3", QV_TEST_DATA_DIR "/check_xbel.py", list,
                                      qv::fileUri(path), "Quorvane", "'quorvane' %u",
                                      "application/x-quorvane", count, std::to_string(bookmarks)},
                                     &error);
        EXPECT_GT(pid, 0) << error;
        int status = 0;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }
    RecentResult add(const std::string& path) {
        return qv::addRecentDocument(list,
                                     {path, "application/x-quorvane", "Quorvane", "'quorvane' %u"});
    }
    std::vector<std::string> read() {
        std::vector<std::string> paths;
        EXPECT_EQ(qv::readRecentDocuments(list, &paths), RecentResult::ok);
        return paths;
    }
};

TEST_F(RecentList, LocalFilesAreReadNewestFirstAndDecoded) {
    std::filesystem::create_directories(dir / "share");
    writeBytes(list, kDesktopList);
    EXPECT_EQ(read(), (std::vector<std::string>{"/home/me/My Notes/caf\xC3\xA9&co.zt",
                                                "/home/me/local.txt", "/home/me/old.txt"}));
    std::filesystem::remove(list);
    EXPECT_TRUE(read().empty());  // no list yet is an empty list
}

TEST_F(RecentList, AnAddedEntryIsReadByOtherProgramsWithEveryField) {
    std::filesystem::create_directories(dir / "share");
    writeBytes(list, kDesktopList);
    const std::string mine = "/home/me/new file;$(x) \"q\" caf\xC3\xA9.zt";
    EXPECT_EQ(qv::fileUri(mine),
              "file:///home/me/new%20file%3B%24%28x%29%20%22q%22%20caf%C3%A9.zt");

    ASSERT_EQ(add(mine), RecentResult::ok);
    EXPECT_TRUE(checkedByPython(mine, "1", 7));
    EXPECT_EQ(read().front(), mine);

    ASSERT_EQ(add(mine), RecentResult::ok);  // used again: one entry, counted twice
    EXPECT_TRUE(checkedByPython(mine, "2", 7));

    // A document another program listed gains our use beside its own.
    ASSERT_EQ(add("/home/me/old.txt"), RecentResult::ok);
    EXPECT_EQ(read().front(), "/home/me/old.txt");
    const std::string text = readBytes(list);
    EXPECT_NE(text.find("name=\"gedit\""), std::string::npos);
    EXPECT_NE(text.find("<!-- a comment the desktop may leave -->"), std::string::npos);
    EXPECT_NE(text.find("href=\"https://example.org/page\""), std::string::npos);
}

TEST_F(RecentList, AnEntryStartsAListThatDidNotExist) {
    ASSERT_EQ(add("/data/first.zt"), RecentResult::ok);
    EXPECT_TRUE(checkedByPython("/data/first.zt", "1", 1));
    EXPECT_EQ(read(), std::vector<std::string>{"/data/first.zt"});
    EXPECT_EQ(qv::addRecentDocument(list, {"relative.zt", "", "Quorvane", "quorvane"}),
              RecentResult::failed);
}

TEST_F(RecentList, AListThatCannotBeReadIsReportedAndLeftAlone) {
    std::string deep;
    for (int i = 0; i < 1000; ++i) deep += "<a>";
    struct Case {
        const char* what;
        std::string text;
        RecentResult result;
    };
    const std::vector<Case> cases = {
        {"plain text", "recent: a.txt, b.txt\n", RecentResult::notXml},
        {"empty", "", RecentResult::notXml},
        {"cut short", kDesktopList.substr(0, kDesktopList.size() / 2), RecentResult::notXml},
        {"another document", "<?xml version=\"1.0\"?>\n<html><body/></html>\n",
         RecentResult::notXbel},
        {"nested without end", "<xbel>" + deep, RecentResult::notXml},
        {"entities that expand",
         "<!DOCTYPE xbel [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
         "<xbel version=\"1.0\"><bookmark href=\"file:///&b;\"/></xbel>",
         RecentResult::notXml},
        {"unknown entity", "<xbel><bookmark href=\"file:///&nbsp;\"/></xbel>",
         RecentResult::notXml},
        {"too large", "<xbel>" + std::string(qv::kMaxRecentFileBytes, ' ') + "</xbel>",
         RecentResult::tooLarge},
    };
    std::filesystem::create_directories(dir / "share");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(list, c.text);
        std::vector<std::string> paths{"stale"};
        std::string error;
        EXPECT_EQ(qv::readRecentDocuments(list, &paths, &error), c.result);
        EXPECT_TRUE(paths.empty());
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(add("/data/x.zt"), c.result);
        EXPECT_EQ(readBytes(list), c.text);
    }
}

TEST(XbelTime, TextAndMicrosecondsAgree) {
    struct Case {
        const char* text;
        int64_t micro;
    };
    const Case cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2024-02-29T23:59:59.999999Z", 1709251199999999},
        {"2023-12-24T12:00:00.5Z", 1703419200500000},
    };
    for (const Case& c : cases) EXPECT_EQ(qv::parseXbelTime(c.text), c.micro) << c.text;
    EXPECT_EQ(qv::formatXbelTime(1709251199999999), "2024-02-29T23:59:59.999999Z");
    for (const char* bad : {"", "2024-02-29", "2024-13-01T00:00:00Z", "2024-01-01T00:00:00",
                            "2024-01-01T00:00:00.Z", "2024-01-01 00:00:00Z"}) {
        EXPECT_EQ(qv::parseXbelTime(bad), -1) << bad;
    }
}

}  // namespace
