#pragma once
// The program's side of the desktop session: its title, whether it is the active application,
// the screen it opens on, and bringing a window to the front. One is made after the QApplication
// and handed down in the AppContext; it keeps no state outside itself.

#include <QObject>
#include <QSize>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace qv {

class Application : public QObject {
  public:
    Application();

    // The application's title (UTF-8): what the desktop shows for the program as a whole. Give a
    // window the same text as its caption after this, so that the desktop does not add the title
    // to it a second time.
    void setTitle(std::string_view title);
    std::string title() const;

    // Called when the program becomes the active one (one of its windows has the focus) and
    // when it stops being so.
    void setOnActivate(std::function<void()> handler) { onActivate_ = std::move(handler); }
    void setOnDeactivate(std::function<void()> handler) { onDeactivate_ = std::move(handler); }
    bool isActive() const { return active_; }

    // The size of the primary screen in pixels.
    QSize screenSize() const;

    // Restores the window when minimised (keeping it maximised when it was), shows it, puts it
    // above the others and asks for the focus; the window manager may still refuse the focus.
    static void bringToFront(QWidget& window);

    // The Qt platform the program asks for, from the environment's QT_QPA_PLATFORM, DISPLAY and
    // WAYLAND_DISPLAY (null for unset): xcb on an X display without a Wayland session, nothing
    // (Qt's own choice) otherwise, and never against a platform the user named.
    static std::optional<std::string> platformFor(const char* qpaPlatform, const char* display,
                                                  const char* waylandDisplay);

  private:
    void stateChanged(Qt::ApplicationState state);

    std::function<void()> onActivate_;
    std::function<void()> onDeactivate_;
    bool active_ = false;
};

}  // namespace qv
