// The other process of the process tests: started by tests/platform/spawned_child.h with a role
// and its arguments, it reads commands from standard input and reports on standard output,
// one line each, flushed at once.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "../hex_text.h"
#include "platform/registry.h"
#include "platform/single_instance.h"

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

// inst <runtime folder> <store> <command line> [handler delay ms]: starts as the program
// does. Handed over: says "handed" and ends 0. First: says "first", then serves until its
// standard input ends, saying "got <hex of StartFile>" for each handoff (after waiting the
// delay inside the handler, so that handoffs overlap).
int instance(const std::string& folder, const std::string& path, const std::string& commandLine,
             int delayMs) {
    qv::RegistryStore store(path);
    qv::InstanceStart start = qv::startInstance(folder, store, commandLine);
    if (start.role == qv::InstanceRole::handedOver) {
        say("handed");
        return 0;
    }
    if (start.role == qv::InstanceRole::failed) {
        say("failed " + start.error);
        return 1;
    }
    start.server->setOnHandoff([&] {
        std::string startFile = qv::readStartFile(store);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        say("got " + hexText(startFile));
    });
    say("first");
    for (;;) {
        start.server->servePending(50);
        pollfd input{0, POLLIN, 0};
        char c;
        if (::poll(&input, 1, 0) > 0 && ::read(0, &c, 1) <= 0) return 0;
    }
}

// echo-args <file> <arguments...>: writes each argument it was given to file, in hex, one a
// line, so that the test sees exactly what arrived.
int echoArguments(const std::vector<std::string>& args) {
    std::string text;
    for (std::size_t i = 2; i < args.size(); ++i) text += hexText(args[i]) + "\n";
    FILE* out = std::fopen(args[1].c_str(), "w");
    if (!out) return 2;
    std::fputs(text.c_str(), out);
    return std::fclose(out) == 0 ? 0 : 3;
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
    if (role == "echo-args" && args.size() >= 2) return echoArguments(args);
    if (role == "inst" && (args.size() == 4 || args.size() == 5))
        return instance(args[1], args[2], args[3], args.size() == 5 ? std::stoi(args[4]) : 0);
    return 64;
}
