// The desktop clipboard behind the engine's clipboard interface, within the program.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/error_box.h"
#include "platform_qt/qt_clipboard.h"
#include "platform_qt/qt_message_pump.h"
#include "ztdb/ztclipboard.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kPrivate = "Quorvane Clipboard Format";

std::string gErrorText;
void captureError(const char* text) {
    gErrorText = text;
}

void setDesktop(const QString& type, const QByteArray& data, const QString& text = {}) {
    auto* mime = new QMimeData;
    if (!text.isNull()) mime->setText(text);
    if (!type.isEmpty()) mime->setData(type, data);
    QGuiApplication::clipboard()->setMimeData(mime);
}

std::string stringOf(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class QtClipboardTest : public testing::Test {
  protected:
    void SetUp() override {
        qv::setClipboard(&board);
        previousSink = qv::setErrorBoxSink(&captureError);
        gErrorText.clear();
    }
    void TearDown() override {
        qv::setErrorBoxSink(previousSink);
        qv::setClipboard(nullptr);
    }
    qv::QtMessagePump pump;
    qv::QtClipboard board{pump};
    qv::ErrorBoxSink previousSink = nullptr;
    int writer = 0, reader = 0;  // owners
};

TEST_F(QtClipboardTest, OneEngineWriteSessionBecomesOneContentWithTextAndPrivateFormat) {
    QSignalSpy changes(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    const std::string text =
        "Name\tCaf\xE9\r\nOne\t\x80"
        "5";
    ZTClipboard out;
    ASSERT_TRUE(out.openForWrite(&writer));
    ZTGlobalMem* block = out.createMem(2000);
    ASSERT_TRUE(block->write(text.data(), uint32_t(text.size())));
    ASSERT_TRUE(block->writeEnd());
    ASSERT_TRUE(out.setData(qv::kClipboardText));
    block = out.createMem(2000);
    ASSERT_TRUE(block->putString("/data/people"));
    ASSERT_TRUE(block->putULong(42));
    ASSERT_TRUE(out.setData(kPrivate));
    EXPECT_TRUE(ZTClipboard().isBusy(&reader));  // a copy in progress keeps others out
    EXPECT_EQ(changes.count(), 0);
    out.close();
    EXPECT_EQ(changes.count(), 1);

    // Outside: UTF-8 text and the private type beside it.
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_EQ(mime->text(), QString::fromUtf8("Name\tCafé\r\nOne\t€5"));
    EXPECT_TRUE(mime->hasFormat(QString::fromStdString(qv::QtClipboard::mimeTypeFor(kPrivate))));

    // Back in: the same bytes through the engine.
    ZTClipboard in;
    ASSERT_TRUE(in.openForRead(&reader));
    ZTGlobalMem mem;
    ASSERT_TRUE(in.getData(&mem, kPrivate));
    EXPECT_STREQ(mem.getString(), "/data/people");
    EXPECT_EQ(mem.getULong(), 42u);
    ASSERT_TRUE(in.getData(&mem, qv::kClipboardText));
    EXPECT_EQ(std::string(mem.getString()), text);
    in.close();
}

TEST_F(QtClipboardTest, TextFromTheDesktopIsReadAsStoredTextOrRefused) {
    struct Case {
        const char* utf8;
        bool stored;
        const char* ansi;
    } cases[] = {
        {"plain", true, "plain"},
        {"Zoë €5 — “q”", true,
         "Zo\xEB \x80"
         "5 \x97 \x93q\x94"},
        {"", true, ""},
        {"line one\nline two", true, "line one\nline two"},
        {"日本", false, ""},
        {"ok then \xF0\x9F\x98\x80", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        gErrorText.clear();
        QGuiApplication::clipboard()->setText(QString::fromUtf8(c.utf8));
        EXPECT_TRUE(board.isAvailable(qv::kClipboardText));
        ASSERT_TRUE(board.open(&reader));
        std::vector<unsigned char> bytes;
        EXPECT_EQ(board.getData(qv::kClipboardText, &bytes), c.stored);
        board.close();
        if (c.stored) {
            EXPECT_EQ(stringOf(bytes), std::string(c.ansi) + '\0');  // with its terminating zero
            EXPECT_EQ(gErrorText, "");
        } else {
            EXPECT_NE(gErrorText.find("cannot be stored"), std::string::npos);
        }
    }
}

TEST_F(QtClipboardTest, ForeignDataUnderThePrivateTypeThatIsDamagedIsNotAvailable) {
    const qv::ClipboardFormat format = board.registerFormat(kPrivate);
    const QString type = QString::fromStdString(qv::QtClipboard::mimeTypeFor(kPrivate));
    const std::vector<unsigned char> payload = {'a', 0, 'b', 0xFF, 7};
    const auto good = qv::QtClipboard::wrap(payload);
    auto bytes = [](std::vector<unsigned char> v) {
        return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
    };
    auto damaged = [&](size_t at, unsigned char x) {
        auto v = good;
        v[at] ^= x;
        return bytes(v);
    };
    struct Case {
        const char* what;
        QByteArray data;
    } cases[] = {
        {"empty", QByteArray()},
        {"shorter than the header", bytes(good).left(7)},
        {"foreign bytes", QByteArray("<html>hello</html>")},
        {"other magic", damaged(0, 0x20)},
        {"length too large", damaged(4, 1)},
        {"length too small", damaged(4, 2)},
        {"checksum wrong", damaged(9, 0x10)},
        {"payload damaged", damaged(13, 0x01)},
        {"cut short", bytes(good).chopped(1)},
        {"trailing bytes", bytes(good) + "x"},
        {"length near 4 GiB", damaged(7, 0xFF)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setDesktop(type, c.data, "text beside");
        EXPECT_FALSE(board.isAvailable(format));
        ASSERT_TRUE(board.open(&reader));
        std::vector<unsigned char> out;
        EXPECT_FALSE(board.getData(format, &out));
        EXPECT_TRUE(board.isAvailable(qv::kClipboardText));  // the text is still there
        board.close();
    }
    setDesktop(type, bytes(good));
    ASSERT_TRUE(board.open(&reader));
    std::vector<unsigned char> out;
    EXPECT_TRUE(board.getData(format, &out));
    EXPECT_EQ(out, payload);
    board.close();
}

TEST_F(QtClipboardTest, WorkersUseTheClipboardThroughTheUserInterfaceThread) {
    std::atomic<bool> done{false};
    bool wrote = false, read = false;
    std::thread worker([&] {
        ZTClipboard out;
        if (out.openForWrite(&writer)) {
            ZTGlobalMem* block = out.createMem(100);
            block->putString("from a worker");
            wrote = out.setData(qv::kClipboardText);
            out.close();
        }
        ZTClipboard in;
        ZTGlobalMem mem;
        read = in.openForRead(&reader) && in.getData(&mem, qv::kClipboardText) &&
               std::strcmp(mem.getString(), "from a worker") == 0;
        done = true;
    });
    EXPECT_TRUE(pump.runUntil([&] { return done.load(); }, 30s));
    worker.join();
    EXPECT_TRUE(wrote);
    EXPECT_TRUE(read);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "from a worker");
}

TEST_F(QtClipboardTest, SessionRules) {
    const qv::ClipboardFormat format = board.registerFormat(kPrivate);
    EXPECT_GE(format, qv::kFirstRegisteredFormat);
    EXPECT_EQ(board.registerFormat("quorvane CLIPBOARD format"), format);  // case does not count
    EXPECT_NE(board.registerFormat("Other"), format);
    EXPECT_EQ(board.registerFormat(""), 0u);
    EXPECT_EQ(qv::QtClipboard::mimeTypeFor(kPrivate),
              "application/x-qv-quorvane%20clipboard%20format");

    EXPECT_FALSE(board.setData(qv::kClipboardText, {'x'}));  // not open
    ASSERT_TRUE(board.open(&writer));
    EXPECT_FALSE(board.open(&reader));
    EXPECT_FALSE(board.setData(qv::kClipboardText, {'x'}));  // not emptied first
    ASSERT_TRUE(board.empty());
    EXPECT_FALSE(board.setData(0, {'x'}));
    EXPECT_FALSE(board.setData(2, {'x'}));       // a predefined format other than text
    EXPECT_FALSE(board.setData(0xC0FF, {'x'}));  // never registered
    EXPECT_TRUE(board.setData(format, {}));
    EXPECT_TRUE(board.isAvailable(format));  // what the session wrote so far
    EXPECT_FALSE(board.isAvailable(qv::kClipboardText));
    board.close();
    EXPECT_FALSE(board.isAvailable(qv::kClipboardText));  // emptied: the old text is gone
    EXPECT_TRUE(board.isAvailable(format));

    // Emptied and closed with nothing written: the clipboard is empty.
    QGuiApplication::clipboard()->setText("old");
    ASSERT_TRUE(board.open(&writer));
    ASSERT_TRUE(board.empty());
    board.close();
    EXPECT_FALSE(board.isAvailable(qv::kClipboardText));
    EXPECT_FALSE(board.isAvailable(format));
}

}  // namespace
