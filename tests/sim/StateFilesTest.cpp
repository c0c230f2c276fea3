#include "StateFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class StateFiles : public testing::Test {
public:
    std::string path(const char* name) const { return folder.path().toStdString() + "/" + name; }
    QStringList names() const {
        return QDir(folder.path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    }
    bool replace(const std::string& file, const std::string& text) {
        return sim::WriteFileReplacing(file, text.data(), text.size());
    }
    QTemporaryDir folder;
};

TEST_F(StateFiles, ReplacingLeavesTheNewContentsAndNoTemporary) {
    const std::string state = path("node.state");
    ASSERT_TRUE(replace(state, "old\n"));
    ASSERT_TRUE(replace(state, "new contents\n"));
    EXPECT_EQ(contents(state), "new contents\n");
    EXPECT_EQ(names(), QStringList{"node.state"});
}

// Whatever lies at a name a temporary might take is neither followed nor truncated: the
// temporary is made exclusively under a name of its own.
TEST_F(StateFiles, ALinkBesideTheFileIsNeverFollowed) {
    const std::string victim = path("victim");
    std::ofstream(victim) << "keep me\n";
    const std::string state = path("node.state");
    ASSERT_EQ(::symlink(victim.c_str(), (state + ".new").c_str()), 0);
    ASSERT_TRUE(replace(state, "state\n"));
    EXPECT_EQ(contents(victim), "keep me\n");
    EXPECT_EQ(contents(state), "state\n");
}

TEST_F(StateFiles, AFailedReplaceLeavesNothingBehind) {
    EXPECT_FALSE(replace(path("missing-folder/node.state"), "state\n"));
    EXPECT_TRUE(names().isEmpty());
}

} // namespace
