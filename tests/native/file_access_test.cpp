// A file is known by what it is, not by how its path is spelled.
#include "media/file_access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace tev::media {
namespace {

TEST(FileAccess, IdentityFollowsTheFileNotTheText) {
  char folder_template[] = "/tmp/tev-identity-XXXXXX";
  const std::string folder = mkdtemp(folder_template);
  const std::string a = folder + "/a.bin", b = folder + "/b.bin", link = folder + "/link.bin";
  for (const std::string& path : {a, b}) FilePtr(OpenFile(path, "wb"));
  ASSERT_EQ(::link(a.c_str(), link.c_str()), 0);

  const struct {
    std::string left, right;
    bool same;
  } cases[] = {
      {a, folder + "/./a.bin", true},
      {a, folder + "/../" + folder.substr(5) + "/a.bin", true},
      {a, link, true},
      {a, b, false},
      {a, folder + "/missing.bin", false},
      {folder + "/missing.bin", folder + "/missing.bin", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IdentifyFile(c.left).SameFileAs(IdentifyFile(c.right)), c.same) << c.right;
  // A file still to be written is the same when its folder and name are.
  const struct {
    std::string left, right;
    bool same;
  } targets[] = {
      {folder + "/new.bin", folder + "/./new.bin", true},
      {folder + "/new.bin", folder + "/../" + folder.substr(5) + "/new.bin", true},
      {folder + "/new.bin", folder + "/New.bin", false},
      {folder + "/new.bin", folder + "/other.bin", false},
      {folder + "/new.bin", a, false},
      {a, link, true},
  };
  for (const auto& c : targets) EXPECT_EQ(NameSameFile(c.left, c.right), c.same) << c.right;
  EXPECT_TRUE(IdentifyFile(folder).is_directory);

  std::string error;
  EXPECT_FALSE(MoveFileOver(folder + "/missing.bin", b, &error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_TRUE(MoveFileOver(a, b, &error));
  EXPECT_TRUE(IdentifyFile(b).SameFileAs(IdentifyFile(link)));
  for (const std::string& path : {b, link}) EXPECT_TRUE(RemoveFile(path));
  rmdir(folder.c_str());
}

}  // namespace
}  // namespace tev::media
