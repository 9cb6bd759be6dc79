#pragma once
// "Is this key held now" on Qt. Shift, Ctrl and Alt are asked of the window system at the moment
// of the call (the state that decides at start whether stored settings are reset, before any
// window of ours has seen a key); the mouse buttons are those Qt last saw. Every other key is
// held from its press to its release as the program's windows received them; while another
// program has the keyboard no key counts as held, since its releases never reach us.
//
// Made on the user-interface thread after the QGuiApplication, and asked there.

#include <QObject>
#include <set>

#include "platform/key_codes.h"

namespace qv {

class QtKeyState : public QObject, public KeyState {
  public:
    QtKeyState();
    ~QtKeyState() override;

    bool isDown(int virtualKey) const override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::set<int> held_;
};

}  // namespace qv
