// Dropped file lists become paths for a command line.
#include "window/uri_list.hpp"

#include <gtest/gtest.h>

namespace zelto {
namespace {

TEST(UriList, OneFileGivesItsWholePath) {
    EXPECT_EQ(uri_list_to_paths("file:///a/b.txt"), "/a/b.txt");
    EXPECT_EQ(uri_list_to_paths("file:///a/b.txt\r\n"), "/a/b.txt");
    EXPECT_EQ(uri_list_to_paths("file:///a/b.txt\n"), "/a/b.txt") << "a bare LF keeps the t";
}

TEST(UriList, SeveralFilesAreJoinedBySingleSpacesWithNothingAfterTheLast) {
    EXPECT_EQ(uri_list_to_paths("file:///home/u/one.png\r\nfile:///tmp/two\r\n"),
              "/home/u/one.png /tmp/two");
    EXPECT_EQ(uri_list_to_paths("file:///x\nfile:///y\n\n"), "/x /y");
}

TEST(UriList, CommentsAndLinesWithoutASchemeAreSkipped) {
    EXPECT_EQ(uri_list_to_paths("# dragged from the file manager\r\nfile:///a\r\n"), "/a");
    EXPECT_EQ(uri_list_to_paths("not a uri\r\nfile:///a\r\n\r\nplain\nfile:///b"), "/a /b");
    EXPECT_EQ(uri_list_to_paths("#file:///hidden\r\n"), "");
    EXPECT_EQ(uri_list_to_paths("file://\r\n"), "") << "an empty path adds no space";
    EXPECT_EQ(uri_list_to_paths(""), "");
}

TEST(UriList, OtherSchemesKeepTheirHost) {
    EXPECT_EQ(uri_list_to_paths("https://example.org/x?y=1\r\nsmb://host/share\r\n"),
              "example.org/x?y=1 host/share");
}

}  // namespace
}  // namespace zelto
