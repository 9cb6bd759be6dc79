#include "ztdb/ztsystem.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/ansi_text.h"
#include "platform/error_box.h"
#include "ztdb/ztdatetime.h"

const char* getCurrentUserName(ZTStr* out) {
    std::string name;
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        name = found->pw_name;
    else if (const char* user = std::getenv("USER"))
        name = user;
    // The name is stored in records as text of the code page; one it cannot hold stays as is.
    std::optional<std::string> ansi = qv::utf8ToAnsi(name);
    out->assign(ansi ? ansi->c_str() : name.c_str());
    return out->text;
}

const char* getNowStamp(ZTStr* out) {
    ZTDateTime now;
    now.setNow(true);
    // The canonical form of a full date is exactly the stamp's form.
    return now.format(out, false);
}

void showErrorBox(const char* format, ...) {
    char text[500];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format ? format : "", args);
    va_end(args);
    if (n < 0) text[0] = 0;
    qv::showErrorText(text);
}
