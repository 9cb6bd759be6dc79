// The clipboard shared with other programs on a real X server (run under xvfb-run): xclip, in
// another process, reads what we copy and sets what we read.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QTimer>
#include <functional>
#include <string>

#include "platform_qt/qt_clipboard.h"
#include "platform_qt/qt_message_pump.h"
#include "ztdb/ztclipboard.h"

namespace {

constexpr const char* kPrivate = "Quorvane Clipboard Format";

// Runs xclip while our event loop runs, so that we can answer its requests for our selection.
QByteArray xclip(const QStringList& args, const QByteArray& input = {}, bool* ok = nullptr) {
    QProcess p;
    const bool writing = args.contains("-i");
    if (writing) p.setStandardOutputFile(QProcess::nullDevice());  // its daemon keeps no pipe
    p.start("xclip", args);
    if (writing) {
        p.write(input);
        p.closeWriteChannel();
    }
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (p.state() != QProcess::NotRunning) loop.exec();
    const bool finished = p.state() == QProcess::NotRunning &&
                          p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (ok) *ok = finished;
    if (!finished) p.kill(), p.waitForFinished(1000);
    return p.readAllStandardOutput();
}

// Runs the event loop for a moment. X refuses a selection owner whose time is older than the
// selection's last change, and our time moves on only with the events we handle (a user's key
// press does it in the program; here the notice that another process took the selection does).
void settle() {
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
}

// Pumps events until cond holds (another process needs a moment to own the selection).
bool eventually(const std::function<bool()>& cond) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > 10000) return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

class ClipboardX11Test : public testing::Test {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
        qv::setClipboard(&board);
    }
    void TearDown() override {
        // Taking the clipboard back ends an xclip that still serves it.
        settle();
        QGuiApplication::clipboard()->setText("done");
        qv::setClipboard(nullptr);
    }
    void copy(const std::string& text, const std::vector<unsigned char>* priv) {
        settle();
        ZTClipboard out;
        ASSERT_TRUE(out.openForWrite(this));
        ZTGlobalMem* block = out.createMem(2000);
        block->write(text.data(), uint32_t(text.size()));
        block->writeEnd();
        ASSERT_TRUE(out.setData(qv::kClipboardText));
        if (priv) {
            block = out.createMem(2000);
            block->write(priv->data(), uint32_t(priv->size()));
            ASSERT_TRUE(out.setData(kPrivate));
        }
        out.close();
    }
    qv::QtMessagePump pump;
    qv::QtClipboard board{pump};
    const QString type = QString::fromStdString(qv::QtClipboard::mimeTypeFor(kPrivate));
};

TEST_F(ClipboardX11Test, TextWeCopyIsReadByAnotherProcess) {
    copy("Caf\xE9 \x80 1\t2\r\nnext", nullptr);
    bool ok = false;
    const QByteArray out = xclip({"-selection", "clipboard", "-o"}, {}, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out.toStdString(), "Café € 1\t2\r\nnext");
}

TEST_F(ClipboardX11Test, TextAnotherProcessSetsIsReadByUs) {
    bool ok = false;
    xclip({"-selection", "clipboard", "-i"}, "Zoë\tdata\nrow 2", &ok);
    ASSERT_TRUE(ok);
    const std::string expected = std::string("Zo\xEB\tdata\nrow 2") + '\0';
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(eventually([&] {
        if (!board.open(this)) return false;
        const bool got = board.getData(qv::kClipboardText, &bytes);
        board.close();
        return got && std::string(bytes.begin(), bytes.end()) == expected;
    })) << std::string(bytes.begin(), bytes.end());
}

TEST_F(ClipboardX11Test, PrivateFormatTravelsBesideText) {
    const std::vector<unsigned char> priv = {'/', 'd', 'b', 0, 1, 0, 0, 0, 0xFF, 1};
    copy("a\tb", &priv);

    // Other programs see both types on offer, and our bytes under ours.
    const QByteArray targets = xclip({"-selection", "clipboard", "-o", "-t", "TARGETS"});
    EXPECT_TRUE(targets.contains(type.toUtf8())) << targets.toStdString();
    EXPECT_TRUE(targets.contains("UTF8_STRING")) << targets.toStdString();
    const QByteArray wrapped = xclip({"-selection", "clipboard", "-o", "-t", type});
    EXPECT_EQ(
        qv::QtClipboard::unwrap(std::string_view(wrapped.constData(), size_t(wrapped.size()))),
        priv);

    // Within the program both come back through the engine.
    ZTClipboard in;
    ASSERT_TRUE(in.openForRead(this));
    ZTGlobalMem mem;
    ASSERT_TRUE(in.getData(&mem, kPrivate));
    EXPECT_EQ(mem.filled(), priv.size());
    const unsigned char* p = mem.skip(uint32_t(priv.size()));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(p, p + priv.size()), priv);
    ASSERT_TRUE(in.getData(&mem, qv::kClipboardText));
    EXPECT_STREQ(mem.getString(), "a\tb");
}

TEST_F(ClipboardX11Test, PrivateDataFromAnotherProcessIsReadOnlyWhenWhole) {
    const qv::ClipboardFormat format = board.registerFormat(kPrivate);
    const std::vector<unsigned char> priv = {'x', 0, 'y'};
    auto wrapped = qv::QtClipboard::wrap(priv);
    const QByteArray good(reinterpret_cast<const char*>(wrapped.data()), qsizetype(wrapped.size()));
    QByteArray bad = good;
    bad[bad.size() - 1] = 'z';

    auto offered = [&] {
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        return mime && mime->hasFormat(type);
    };
    bool ok = false;
    xclip({"-selection", "clipboard", "-i", "-t", type}, bad, &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(eventually(offered));
    EXPECT_FALSE(board.isAvailable(format));

    settle();
    QGuiApplication::clipboard()->setText("between");
    xclip({"-selection", "clipboard", "-i", "-t", type}, good, &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(eventually(offered));
    EXPECT_TRUE(board.isAvailable(format));
    ASSERT_TRUE(board.open(this));
    std::vector<unsigned char> out;
    EXPECT_TRUE(board.getData(format, &out));
    board.close();
    EXPECT_EQ(out, priv);
}

}  // namespace
