// File sharing between processes and between environments of one process:
// share modes, replacement of files in use, and what a reader with its own
// buffer sees of another writer's held-back writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "child_process.h"
#include "temp_dir.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/file4.h"

namespace {

struct Opener {
    int8_t mode;  // 0 shared, 1 exclusive, 2 deny write
    bool readOnly;
};

const Opener kOpeners[] = {{0, false}, {0, true}, {1, false}, {1, true}, {2, false}, {2, true}};

// Whether a second open may join a first one: each must allow what the other does.
bool compatible(const Opener& first, const Opener& second) {
    auto allowsRead = [](const Opener& o) { return o.mode != 1; };
    auto allowsWrite = [](const Opener& o) { return o.mode == 0; };
    bool secondFits = allowsRead(first) && (second.readOnly || allowsWrite(first));
    bool firstFits = allowsRead(second) && (first.readOnly || allowsWrite(second));
    return secondFits && firstFits;
}

int32_t openAs(env4* env, file4* f, const std::string& path, const Opener& o) {
    env->accessMode = o.mode;
    env->readOnly = o.readOnly;
    env->errOpen = 0;
    int32_t rc = file4open(f, env, path.c_str(), 1);
    env->errorCode = 0;
    return rc;
}

TEST(ShareModes, TwoEnvironmentsOfOneProcessFollowTheConflictTable) {
    TempDir dir;
    std::string path = dir.file("shared.dbf");
    writeWhole(path, "data");
    env4 a, b;
    ASSERT_EQ(env4init(&a, env4version), 0);
    ASSERT_EQ(env4init(&b, env4version), 0);
    for (const Opener& first : kOpeners) {
        file4 fa{};
        ASSERT_EQ(openAs(&a, &fa, path, first), 0);
        for (const Opener& second : kOpeners) {
            file4 fb{};
            int32_t rc = openAs(&b, &fb, path, second);
            EXPECT_EQ(rc == 0, compatible(first, second))
                << "first mode " << int(first.mode) << (first.readOnly ? " ro" : " rw")
                << ", second mode " << int(second.mode) << (second.readOnly ? " ro" : " rw");
            if (rc == 0) (void)file4close(&fb);
        }
        // Two handles in the same environment are held to the same rules.
        file4 again{};
        EXPECT_EQ(openAs(&a, &again, path, first) == 0, compatible(first, first));
        if (file4isOpen(&again)) (void)file4close(&again);
        (void)file4close(&fa);
    }
    (void)env4release(&a);
    (void)env4release(&b);
}

TEST(ShareModes, TwoProcessesFollowTheConflictTable) {
    TempDir dir;
    std::string path = dir.file("shared.dbf");
    writeWhole(path, "data");
    for (const Opener& first : kOpeners) {
        Child holder([&](int in, int out) {
            env4 env;
            (void)env4init(&env, env4version);
            file4 f{};
            answer(out, openAs(&env, &f, path, first) == 0 ? 'y' : 'n');
            await(in);
            (void)file4close(&f);
            (void)env4release(&env);
        });
        ASSERT_EQ(holder.receive(), 'y');
        env4 env;
        (void)env4init(&env, env4version);
        for (const Opener& second : kOpeners) {
            file4 f{};
            int32_t rc = openAs(&env, &f, path, second);
            EXPECT_EQ(rc == 0, compatible(first, second))
                << "first mode " << int(first.mode) << (first.readOnly ? " ro" : " rw")
                << ", second mode " << int(second.mode) << (second.readOnly ? " ro" : " rw");
            if (rc == 0) (void)file4close(&f);
        }
        // A file that another process has open is never replaced.
        env.safety = 0;
        env.errCreate = 0;
        env.accessMode = 0;
        file4 f{};
        EXPECT_EQ(file4create(&f, &env, path.c_str(), 1), r4noCreate);
        EXPECT_EQ(readWhole(path), "data");
        env.errorCode = 0;
        (void)env4release(&env);
        holder.send('q');
    }
}

TEST(BufferedSharing, HeldWritesShowAfterFlushAndDrop) {
    TempDir dir;
    std::string path = dir.file("t.dat");
    writeWhole(path, std::string(4096, 'o'));
    Child writer([&](int in, int out) {
        env4 env;
        (void)env4init(&env, env4version);
        env.writeBehind = 1;
        env.bufferMemory = 64 * 1024;
        (void)buffer4start(&env);
        file4 f{};
        if (file4open(&f, &env, path.c_str(), 1) != 0) _exit(1);
        await(in);
        (void)file4write(&f, 1000, "NEW", 3);
        answer(out, 'w');
        await(in);
        (void)file4flush(&f);
        answer(out, 'f');
        await(in);
        (void)file4close(&f);
        (void)env4release(&env);
    });
    env4 env;
    (void)env4init(&env, env4version);
    env.readAhead = 1;
    env.bufferMemory = 64 * 1024;
    ASSERT_EQ(buffer4start(&env), 0);
    file4 f{};
    ASSERT_EQ(file4open(&f, &env, path.c_str(), 1), 0);
    char buf[3];
    ASSERT_EQ(file4read(&f, 1000, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "ooo");
    writer.send('1');
    ASSERT_EQ(writer.receive(), 'w');
    ASSERT_EQ(file4readLow(&f, 1000, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "ooo");  // held back in the writer's buffer
    writer.send('2');
    ASSERT_EQ(writer.receive(), 'f');
    ASSERT_EQ(file4read(&f, 1000, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "ooo");  // our own block is still the old one
    ASSERT_EQ(file4dropBuffers(&f), 0);
    ASSERT_EQ(file4read(&f, 1000, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "NEW");
    writer.send('3');
    (void)file4close(&f);
    (void)env4release(&env);
}

TEST(BufferedSharing, TheRereadFlagSeesAnotherWriterWithoutADrop) {
    TempDir dir;
    std::string path = dir.file("t.dat");
    writeWhole(path, std::string(2048, 'o'));
    env4 reader, writer;
    ASSERT_EQ(env4init(&reader, env4version), 0);
    ASSERT_EQ(env4init(&writer, env4version), 0);
    reader.readAhead = 1;
    reader.bufferMemory = 64 * 1024;
    ASSERT_EQ(buffer4start(&reader), 0);
    file4 r{}, w{};
    ASSERT_EQ(file4open(&r, &reader, path.c_str(), 1), 0);
    ASSERT_EQ(file4open(&w, &writer, path.c_str(), 1), 0);
    char buf[3];
    ASSERT_EQ(file4read(&r, 700, buf, 3), 3);
    ASSERT_EQ(file4write(&w, 700, "NEW", 3), 0);
    ASSERT_EQ(file4read(&r, 700, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "ooo");
    reader.buffer.reread = 1;
    ASSERT_EQ(file4read(&r, 700, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "NEW");
    (void)file4close(&r);
    (void)file4close(&w);
    (void)env4release(&reader);
    (void)env4release(&writer);
}

}  // namespace
