// Scene files: exact floats, refusing bad input with a message, and the atomic save.
#include "common/scene/SceneFile.h"

#include <nlohmann/json.hpp>

#include "common/tests/ScratchDir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class SceneFileTest : public ::testing::Test {
  protected:
    std::string file(const char* name) const { return scratch_.file(name); }
    void writeRaw(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    long entries() const { return std::distance(fs::directory_iterator(scratch_.path()), {}); }
    common::test::ScratchDir scratch_{"scenefile"};
};

TEST_F(SceneFileTest, BadFilesAreRefusedWithAMessageAndLeaveTheOutputAlone) {
    const std::string good = R"({"format":"Test","version":1,"list":[1,2,3]})";
    struct Case {
        const char* name;
        std::string text;
        const char* messagePart;
    };
    const Case cases[] = {
        {"not-json", "this is a wav file, honest", "not valid JSON"},
        {"truncated", good.substr(0, good.size() - 5), "truncated"},
        {"empty", "", "not valid JSON"},
        {"too-large", std::string(common::kSceneFileMaxBytes + 1, ' '), "too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeRaw(file(c.name), c.text);
        json out = 42;
        std::string error;
        EXPECT_FALSE(common::readJsonFile(file(c.name), out, error));
        EXPECT_NE(error.find(c.messagePart), std::string::npos) << error;
        EXPECT_EQ(out, 42);
    }
    json out;
    std::string error;
    EXPECT_FALSE(common::readJsonFile(file("absent"), out, error));
    EXPECT_NE(error.find("Cannot open"), std::string::npos) << error;
    EXPECT_FALSE(common::readJsonFile(scratch_.path().string(), out, error));
}

TEST_F(SceneFileTest, FailedSaveKeepsTheOldFileAndLeavesNoTemporary) {
    const std::string path = file("scene.json");
    std::string error;
    ASSERT_TRUE(common::writeFileAtomically(path, "old", error));
    // A directory in the way makes the rename fail after the temporary file is written.
    fs::create_directories(path + "-dir");
    EXPECT_FALSE(common::writeFileAtomically(path + "-dir", "new", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(common::writeFileAtomically(file("no/such/folder/x.json"), "new", error));
    EXPECT_EQ(entries(), 2);
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "old");
}

TEST_F(SceneFileTest, SavingGoesThroughLinksKeepsFloatsExactAndTheModeAndNeverReplacesAPipeOrADevice) {
    const json scene = {{"format", "Test"}, {"version", 1}, {"cutoff", 0.1f}, {"tiny", 1.17549435e-38f}};
    std::string error;
    writeRaw(file("target.json"), "old");
    fs::permissions(file("target.json"), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(file("target.json"), file("link.json"));
    ASSERT_TRUE(common::writeJsonFile(file("link.json"), scene, error)) << error;
    EXPECT_TRUE(fs::is_symlink(file("link.json"))) << "the link was replaced by a file";
    json back;
    ASSERT_TRUE(common::readJsonFile(file("target.json"), back, error)) << error;
    EXPECT_EQ(back, scene);
    EXPECT_EQ(back["cutoff"].get<float>(), 0.1f);
    EXPECT_EQ(back["tiny"].get<float>(), 1.17549435e-38f);
    EXPECT_EQ(fs::status(file("target.json")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    ASSERT_EQ(::mkfifo(file("pipe").c_str(), 0600), 0);
    for (const std::string& target : {file("pipe"), std::string("/dev/null")}) {
        EXPECT_FALSE(common::writeJsonFile(target, scene, error)) << target;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
    EXPECT_TRUE(fs::is_fifo(file("pipe")));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    // Reading a pipe that has no writer answers at once instead of waiting for one.
    EXPECT_FALSE(common::readJsonFile(file("pipe"), back, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST_F(SceneFileTest, ReaderNeverSeesAHalfWrittenScene) {
    const std::string path = file("scene.json");
    json a = {{"format", "Test"}, {"version", 1}, {"fill", std::string(300000, 'a')}};
    json b = {{"format", "Test"}, {"version", 1}, {"fill", std::string(200000, 'b')}};
    std::string error;
    ASSERT_TRUE(common::writeJsonFile(path, a, error));
    std::atomic<bool> done{false};
    // Joined on every way out, a failed check's early return too.
    std::jthread writer([&] {
        std::string e;
        for (int i = 0; i < 40; ++i)
            common::writeJsonFile(path, (i & 1) ? a : b, e);
        done = true;
    });
    int reads = 0;
    while (!done || reads < 10) {
        json back;
        std::string e;
        ASSERT_TRUE(common::readJsonFile(path, back, e)) << e;
        ASSERT_TRUE(back == a || back == b);
        ++reads;
    }
    writer.join();
}

} // namespace
