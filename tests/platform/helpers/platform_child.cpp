// The other process of the process tests: started by tests/platform/spawned_child.h with a role
// and its arguments, it reads commands from standard input and reports on standard output,
// one line each, flushed at once.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "../hex_text.h"
#include "platform/registry.h"

namespace {

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// reg-serve <store>: for each "get <name>" line, the string value of <name> under \Test in
// hex ("=" first) or the failure ("!" first). The store object lives throughout, so what it
// reads shows whether it takes in other processes' writes.
int registryServe(const std::string& path) {
    qv::RegistryStore store(path);
    qv::Registry reg(store);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.rfind("get ", 0) != 0) continue;
        std::string value;
        qv::RegResult r = reg.openKeyReadOnly("\\Test");
        if (r == qv::RegResult::ok) r = reg.readString(line.substr(4), &value);
        say(r == qv::RegResult::ok ? "=" + hexText(value) : std::string("!") + qv::describe(r));
    }
    return 0;
}

// reg-loop <store> <first>: writes the integers first, first + 1, ... as values "V<n>" of
// \Loop, reporting each number once its write has returned, until killed.
int registryLoop(const std::string& path, int first) {
    qv::RegistryStore store(path);
    qv::Registry reg(store);
    if (reg.openKey("\\Loop", true) != qv::RegResult::ok) return 2;
    for (int n = first;; ++n) {
        if (reg.writeInteger("V" + std::to_string(n), n) != qv::RegResult::ok) return 3;
        say(std::to_string(n));
    }
}

// reg-many <store> <key> <count>: writes count string values into key, then says "done".
int registryMany(const std::string& path, const std::string& key, int count) {
    qv::RegistryStore store(path);
    qv::Registry reg(store);
    if (reg.openKey(key, true) != qv::RegResult::ok) return 2;
    for (int n = 0; n < count; ++n) {
        if (reg.writeString("N" + std::to_string(n), key + std::to_string(n)) != qv::RegResult::ok)
            return 3;
    }
    say("done");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return 64;
    const std::string& role = args[0];
    if (role == "reg-serve" && args.size() == 2) return registryServe(args[1]);
    if (role == "reg-loop" && args.size() == 3) return registryLoop(args[1], std::stoi(args[2]));
    if (role == "reg-many" && args.size() == 4)
        return registryMany(args[1], args[2], std::stoi(args[3]));
    return 64;
}
