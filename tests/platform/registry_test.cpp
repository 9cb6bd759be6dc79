#include "platform/registry.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hex_text.h"
#include "log_capture.h"
#include "spawned_child.h"
#include "temp_folder.h"

namespace {

using qv::Registry;
using qv::RegistryStore;
using qv::RegResult;
using qv::RegType;
using qv::RegValue;

std::vector<unsigned char> toBytes(const std::string& s) {
    return std::vector<unsigned char>(s.begin(), s.end());
}

RegResult writeAny(Registry& reg, const std::string& name, const RegValue& value) {
    switch (value.type) {
        case RegType::string:
            return reg.writeString(name, value.bytes);
        case RegType::integer:
            return reg.writeInteger(name, value.number);
        case RegType::binary:
            return reg.writeBinary(name, toBytes(value.bytes));
    }
    return RegResult::failed;
}

RegResult readAny(Registry& reg, const std::string& name, RegType type, RegValue* out) {
    out->type = type;
    switch (type) {
        case RegType::string:
            return reg.readString(name, &out->bytes);
        case RegType::integer:
            return reg.readInteger(name, &out->number);
        case RegType::binary: {
            std::vector<unsigned char> bytes;
            RegResult r = reg.readBinary(name, &bytes);
            out->bytes.assign(bytes.begin(), bytes.end());
            return r;
        }
    }
    return RegResult::failed;
}

RegValue str(std::string s) {
    return RegValue{RegType::string, std::move(s), 0};
}
RegValue bin(std::string s) {
    return RegValue{RegType::binary, std::move(s), 0};
}
RegValue num(int32_t n) {
    return RegValue{RegType::integer, {}, n};
}

class RegistryFile : public ::testing::Test {
  protected:
    TempFolder dir;
    std::string path = dir / "registry";
};

struct ValueCase {
    const char* what;
    std::string key;
    std::string name;
    RegValue value;
};

TEST_F(RegistryFile, EveryKindOfNameAndValueRoundTripsThroughTheFile) {
    const std::vector<ValueCase> cases = {
        {"converted path as key", "\\Software\\Quorvane\\6.0\\Files\\C|/Users/me/My data/a:b.zt",
         "Accesses", str("RS")},
        {"spaces", "\\Key with spaces", "Name with spaces", str("  padded  ")},
        {"bytes 0x80-0xFF", "\\Caf\xE9\\\x80\xFF", "n\xE9", str("\x80\x81\xFE\xFF")},
        {"empty name and string", "\\Empty", "", str("")},
        {"quote, percent, backslash", "\\Q\"%", "\"%\"", str("100% \"quoted\" \\ back")},
        {"control bytes in a value", "\\Lines", "Text", str("a\tb\nc\r\n\x01")},
        {"binary with zero bytes", "\\Bin", "Data", bin(std::string("\0\0\x01\0\xFF", 5))},
        {"empty binary", "\\Bin", "Nothing", bin("")},
        {"smallest integer", "\\Int", "Min", num(INT32_MIN)},
        {"largest integer", "\\Int", "Max", num(INT32_MAX)},
        {"minus one", "\\Int", "Minus", num(-1)},
    };
    {
        RegistryStore store(path);
        Registry reg(store);
        for (const ValueCase& c : cases) {
            ASSERT_EQ(reg.openKey(c.key, true), RegResult::ok) << c.what;
            ASSERT_EQ(writeAny(reg, c.name, c.value), RegResult::ok) << c.what;
        }
        ASSERT_EQ(reg.openKey("\\Float", true), RegResult::ok);
        ASSERT_EQ(reg.writeFloat("Pitch", -0.1), RegResult::ok);
    }
    RegistryStore again(path);  // a new reader that knows nothing but the file
    EXPECT_FALSE(again.status().damaged) << again.status().message;
    Registry reg(again);
    for (const ValueCase& c : cases) {
        ASSERT_EQ(reg.openKeyReadOnly(c.key), RegResult::ok) << c.what;
        RegValue read;
        ASSERT_EQ(readAny(reg, c.name, c.value.type, &read), RegResult::ok) << c.what;
        EXPECT_EQ(read, c.value) << c.what;
    }
    double pitch = 0;
    ASSERT_EQ(reg.openKeyReadOnly("\\Float"), RegResult::ok);
    ASSERT_EQ(reg.readFloat("Pitch", &pitch), RegResult::ok);
    EXPECT_EQ(pitch, -0.1);

    // The file is text: lines of printable ASCII.
    std::string file = readBytes(path);
    EXPECT_EQ(file.rfind("quorvane-registry 1\n", 0), 0u);
    for (unsigned char c : file) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
    }
}

TEST_F(RegistryFile, KeysNestAndDeleteWithEverythingBelow) {
    RegistryStore store(path);
    Registry reg(store);
    ASSERT_EQ(reg.openKey("\\A\\B\\C", true), RegResult::ok);
    EXPECT_EQ(reg.currentKey(), "\\A\\B\\C");
    ASSERT_EQ(reg.writeInteger("X", 1), RegResult::ok);
    ASSERT_EQ(reg.openKey("\\A", false), RegResult::ok);
    ASSERT_EQ(reg.openKey("B2", true), RegResult::ok);  // relative to \A
    EXPECT_EQ(reg.currentKey(), "\\A\\B2");
    ASSERT_EQ(reg.openKey("\\A B", true), RegResult::ok);
    ASSERT_EQ(reg.openKey("\\A", false), RegResult::ok);

    std::vector<std::string> names;
    ASSERT_EQ(reg.getKeyNames(&names), RegResult::ok);
    EXPECT_EQ(names, (std::vector<std::string>{"B", "B2"}));
    reg.closeKey();
    ASSERT_EQ(reg.getKeyNames(&names), RegResult::ok);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "A B"}));

    ASSERT_EQ(reg.deleteKey("\\A\\B"), RegResult::ok);
    EXPECT_FALSE(reg.keyExists("\\A\\B\\C"));
    EXPECT_FALSE(reg.keyExists("\\A\\B"));
    EXPECT_TRUE(reg.keyExists("\\A\\B2"));
    EXPECT_TRUE(reg.keyExists("\\A B"));
    EXPECT_EQ(reg.deleteKey("\\A\\B"), RegResult::noKey);

    // An accessor whose key was deleted under it says so instead of writing elsewhere.
    ASSERT_EQ(reg.openKey("\\A\\B2", false), RegResult::ok);
    Registry other(store);
    ASSERT_EQ(other.deleteKey("\\A"), RegResult::ok);
    EXPECT_EQ(reg.writeInteger("Y", 2), RegResult::noKey);
    EXPECT_FALSE(RegistryStore(path).status().damaged);
}

TEST_F(RegistryFile, RefusedCallsReportWhyAndChangeNothing) {
    RegistryStore store(path);
    Registry reg(store);
    ASSERT_EQ(reg.openKey("\\K", true), RegResult::ok);
    ASSERT_EQ(reg.writeString("S", "text"), RegResult::ok);
    ASSERT_EQ(reg.writeBinary("Short", toBytes("abc")), RegResult::ok);
    const std::string before = readBytes(path);

    std::string out;
    int32_t number = 0;
    double real = 0;
    EXPECT_EQ(reg.openKey("\\Bad\x01Name", true), RegResult::badName);
    EXPECT_EQ(reg.openKey("\\A\\\\B", true), RegResult::badName);
    EXPECT_EQ(reg.openKey("\\" + std::string(qv::kMaxRegNameBytes + 1, 'k'), true),
              RegResult::tooLong);
    EXPECT_EQ(reg.openKey("\\Missing", false), RegResult::noKey);
    EXPECT_EQ(reg.currentKey(), "\\K");  // a refused open leaves the key open as it was
    EXPECT_EQ(reg.writeString("Line\nBreak", "x"), RegResult::badName);
    EXPECT_EQ(reg.writeString("Big", std::string(qv::kMaxRegValueBytes + 1, 'v')),
              RegResult::tooLong);
    EXPECT_EQ(reg.readInteger("S", &number), RegResult::wrongType);
    EXPECT_EQ(reg.readFloat("Short", &real), RegResult::wrongType);
    EXPECT_EQ(reg.readString("Absent", &out), RegResult::notFound);
    EXPECT_EQ(reg.deleteValue("Absent"), RegResult::notFound);
    EXPECT_EQ(reg.deleteKey("\\"), RegResult::badName);
    ASSERT_EQ(reg.openKeyReadOnly("\\K"), RegResult::ok);
    EXPECT_EQ(reg.writeString("S", "other"), RegResult::readOnly);
    EXPECT_EQ(reg.deleteValue("S"), RegResult::readOnly);
    EXPECT_EQ(reg.deleteKey("\\K"), RegResult::readOnly);

    EXPECT_EQ(readBytes(path), before);
    ASSERT_EQ(reg.readString("S", &out), RegResult::ok);
    EXPECT_EQ(out, "text");
}

TEST_F(RegistryFile, AnotherProcessReadsEachValueRightAfterItIsWritten) {
    SpawnedChild reader({"reg-serve", path});
    ASSERT_TRUE(reader.started());
    ASSERT_TRUE(reader.sendLine("get V"));
    EXPECT_EQ(reader.readLine(), "!no such key");  // it has looked at the store before

    RegistryStore store(path);
    Registry reg(store);
    ASSERT_EQ(reg.openKey("\\Test", true), RegResult::ok);
    for (int i = 0; i < 40; ++i) {
        std::string value = "value " + std::to_string(i) + std::string(i % 3, '\xE9');
        ASSERT_EQ(reg.writeString("V", value), RegResult::ok);
        ASSERT_TRUE(reader.sendLine("get V"));
        EXPECT_EQ(reader.readLine(), "=" + hexText(value)) << i;
    }
    ASSERT_EQ(reg.deleteValue("V"), RegResult::ok);
    ASSERT_TRUE(reader.sendLine("get V"));
    EXPECT_EQ(reader.readLine(), "!no such value");
}

TEST_F(RegistryFile, WriterKilledAtAnyMomentLeavesEveryCompletedWrite) {
    std::mt19937 random(18);
    int next = 0;
    for (int round = 0; round < 12; ++round) {
        SpawnedChild writer({"reg-loop", path, std::to_string(next)});
        ASSERT_TRUE(writer.started());
        int reported = -1;
        int stopAfter = std::uniform_int_distribution<int>(1, 25)(random);
        for (int i = 0; i < stopAfter; ++i) {
            std::optional<std::string> line = writer.readLine();
            ASSERT_TRUE(line.has_value()) << "round " << round;
            reported = std::stoi(*line);
        }
        writer.kill(SIGKILL);
        EXPECT_EQ(writer.wait(), 128 + SIGKILL);

        RegistryStore store(path);
        ASSERT_FALSE(store.status().damaged) << store.status().message;
        Registry reg(store);
        ASSERT_EQ(reg.openKeyReadOnly("\\Loop"), RegResult::ok);
        for (int n = 0; n <= reported; ++n) {
            int32_t value = -1;
            ASSERT_EQ(reg.readInteger("V" + std::to_string(n), &value), RegResult::ok) << n;
            EXPECT_EQ(value, n);
        }
        std::vector<std::string> names;
        ASSERT_EQ(reg.getValueNames(&names), RegResult::ok);
        next = static_cast<int>(names.size());  // a write may have ended after the last report
        ASSERT_GE(next, reported + 1);
    }
    // A writer killed inside its write may leave its temporary; the next one removes it.
    int temporaries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename().string().rfind("registry.tmp-", 0) == 0) ++temporaries;
    }
    EXPECT_LE(temporaries, 1);
}

TEST_F(RegistryFile, TwoProcessesWritingAtOnceLoseNothing) {
    SpawnedChild first({"reg-many", path, "\\P1", "60"});
    SpawnedChild second({"reg-many", path, "\\P2", "60"});
    EXPECT_EQ(first.readLine(), "done");
    EXPECT_EQ(second.readLine(), "done");
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);

    RegistryStore store(path);
    Registry reg(store);
    for (const char* key : {"\\P1", "\\P2"}) {
        ASSERT_EQ(reg.openKeyReadOnly(key), RegResult::ok);
        for (int n = 0; n < 60; ++n) {
            std::string value;
            ASSERT_EQ(reg.readString("N" + std::to_string(n), &value), RegResult::ok) << key << n;
            EXPECT_EQ(value, key + std::to_string(n));
        }
    }
}

TEST_F(RegistryFile, ThreadsWritingAtOnceLoseNothing) {
    // Two threads share one store object; two more have a store each on the same file.
    RegistryStore shared(path);
    RegistryStore own1(path), own2(path);
    RegistryStore* stores[] = {&shared, &shared, &own1, &own2};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Registry reg(*stores[t]);
            std::string key = "\\T" + std::to_string(t);
            ASSERT_EQ(reg.openKey(key, true), RegResult::ok);
            for (int n = 0; n < 30; ++n)
                ASSERT_EQ(reg.writeInteger("N" + std::to_string(n), n), RegResult::ok);
        });
    }
    for (std::thread& thread : threads) thread.join();
    RegistryStore check(path);
    Registry reg(check);
    for (int t = 0; t < 4; ++t) {
        ASSERT_EQ(reg.openKeyReadOnly("\\T" + std::to_string(t)), RegResult::ok);
        std::vector<std::string> names;
        ASSERT_EQ(reg.getValueNames(&names), RegResult::ok);
        EXPECT_EQ(names.size(), 30u) << t;
    }
}

// A file holding \A (First = "one"), \B (Second = 2) and \C (Third = "three"), in that order.
std::string soundFile(const std::string& path) {
    RegistryStore store(path);
    Registry reg(store);
    EXPECT_EQ(reg.openKey("\\A", true), RegResult::ok);
    EXPECT_EQ(reg.writeString("First", "one"), RegResult::ok);
    EXPECT_EQ(reg.openKey("\\B", true), RegResult::ok);
    EXPECT_EQ(reg.writeInteger("Second", 2), RegResult::ok);
    EXPECT_EQ(reg.openKey("\\C", true), RegResult::ok);
    EXPECT_EQ(reg.writeString("Third", "three"), RegResult::ok);
    return readBytes(path);
}

TEST_F(RegistryFile, DamagedFileIsReadAsFarAsValidAndKeptWhenNextWritten) {
    const std::string sound = soundFile(dir / "sound");
    const std::size_t secondKey = sound.find("key \"B\"");
    const std::size_t thirdKey = sound.find("key \"C\"");
    ASSERT_NE(thirdKey, std::string::npos);
    std::string noise(3000, '\0');
    std::mt19937 random(7);
    for (char& c : noise) c = static_cast<char>(random());

    struct Damage {
        const char* what;
        std::string bytes;
        bool firstSurvives, secondSurvives;
    };
    const std::vector<Damage> damages = {
        {"cut inside a line", sound.substr(0, thirdKey + 5), true, true},
        {"cut before the end line", sound.substr(0, sound.size() - 4), true, true},
        {"header only", sound.substr(0, sound.find('\n') + 1), false, false},
        {"empty", "", false, false},
        {"bad escape in the middle",
         sound.substr(0, secondKey) + "key \"%G1\"\n" + sound.substr(secondKey), true, false},
        {"random bytes", noise, false, false},
        {"foreign text", "[Settings]\nLeft=10\n", false, false},
    };
    LogCapture log;
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::filesystem::remove(path + ".damaged");
        writeBytes(path, d.bytes);
        log.clear();

        RegistryStore store(path);
        RegistryStore::Status status = store.status();
        EXPECT_TRUE(status.damaged);
        EXPECT_TRUE(log.saw(status.message));
        Registry reg(store);
        std::string text;
        int32_t number = 0;
        EXPECT_EQ(reg.openKeyReadOnly("\\A") == RegResult::ok &&
                      reg.readString("First", &text) == RegResult::ok && text == "one",
                  d.firstSurvives);
        EXPECT_EQ(reg.openKeyReadOnly("\\B") == RegResult::ok &&
                      reg.readInteger("Second", &number) == RegResult::ok && number == 2,
                  d.secondSurvives);
        EXPECT_EQ(readBytes(path), d.bytes);  // reading never rewrites it

        ASSERT_EQ(reg.openKey("\\New", true), RegResult::ok);
        ASSERT_EQ(reg.writeString("After", "x"), RegResult::ok);
        EXPECT_EQ(readBytes(path + ".damaged"), d.bytes);
        EXPECT_TRUE(log.saw("kept as " + path + ".damaged"));
        RegistryStore repaired(path);
        EXPECT_FALSE(repaired.status().damaged);
        Registry check(repaired);
        ASSERT_EQ(check.openKeyReadOnly("\\New"), RegResult::ok);
        EXPECT_EQ(check.readString("After", &text), RegResult::ok);
        EXPECT_EQ(check.openKeyReadOnly("\\A") == RegResult::ok &&
                      check.readString("First", &text) == RegResult::ok,
                  d.firstSurvives);
    }
}

TEST(RegistryMemory, KeepsValuesWithoutAFile) {
    RegistryStore store("");
    Registry reg(store);
    ASSERT_EQ(reg.openKey("\\Software\\Quorvane\\6.0\\Settings", true), RegResult::ok);
    ASSERT_EQ(reg.writeBool("Validity", false), RegResult::ok);
    bool validity = true;
    Registry other(store);
    ASSERT_EQ(other.openKeyReadOnly("\\Software\\Quorvane\\6.0\\Settings"), RegResult::ok);
    ASSERT_EQ(other.readBool("Validity", &validity), RegResult::ok);
    EXPECT_FALSE(validity);
}

}  // namespace
