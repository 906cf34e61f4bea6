// The disk check behind the destination page, on the small drive S: of the
// test session, whose free space is known to the byte: the largest file
// counts once more, free space equal to the need is not enough, a file that
// exists already needs only what it grows by; and the folder creation and
// space queries the engine shares.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>

#include "common/paths.h"
#include "engine/folders.h"
#include "tests/support/current_entries.h"
#include "tests/support/win32_test_files.h"
#include "wizard/disk_space.h"

namespace {

class PathBuffers {
public:
    PathBuffers() { REQUIRE(AllocatePathBuffers()); }
    ~PathBuffers() { ReleasePathBuffers(); }
};

bool HasSmallDrive() {
    ULARGE_INTEGER available, total, free;
    return GetDiskFreeSpaceExA("S:\\", &available, &total, &free) && total.QuadPart < 16u * 1024 * 1024;
}

}  // namespace

TEST_CASE("free space and cluster size follow the drive of a path") {
    DWORD sectors, bytes, freeClusters, total;
    REQUIRE(GetDiskFreeSpaceA("C:\\", &sectors, &bytes, &freeClusters, &total));
    CHECK(GetClusterKilobytes("C:\\some\\folder") == (sectors * bytes + 1023) / 1024);
    CHECK(GetFreeKilobytes("C:\\no such folder\\x") != UnknownFreeSpace);
    // A path with two leading backslashes is asked as typed: no such share.
    CHECK(GetFreeKilobytes("\\\\nowhere\\share\\folder") == UnknownFreeSpace);
    CHECK(GetClusterKilobytes("\\\\nowhere\\share\\folder") == DefaultClusterKilobytes);
    CHECK(GetFreeKilobytes("Q:\\") == UnknownFreeSpace);
}

TEST_CASE("CreateFolderPath makes every missing level of a path's folder") {
    ScratchFolder scratch("kelvo-folders");
    CHECK(CreateFolderPath((scratch.Root() + "\\a\\b\\c\\file.txt").c_str()) == 0);
    CHECK((GetFileAttributesA((scratch.Root() + "\\a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
    CHECK(GetFileAttributesA((scratch.Root() + "\\a\\b\\c\\file.txt").c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK(CreateFolderPath((scratch.Root() + "\\a\\b\\c\\").c_str()) == 0);  // all there already
    // A file where a folder should be stops the walk.
    scratch.Make("plain", "not a folder");
    CHECK(CreateFolderPath((scratch.Root() + "\\plain\\below\\x").c_str()) == 1);
    RemoveTree(scratch.Root() + "\\a");
}

TEST_CASE("the disk check counts clusters, the largest file once more, and what exists") {
    if (!HasSmallDrive()) {
        MESSAGE("no small drive S: in this session");
        return;
    }
    PathBuffers buffers;
    RemoveTree("S:\\check");
    CreateDirectoryA("S:\\check", nullptr);
    CopyPath(DestinationPath, "S:\\check\\", PathCapacity);
    u32 freeKilobytes = GetFreeKilobytes("S:\\");
    u32 cluster = GetClusterKilobytes("S:\\") * 1024;
    REQUIRE(freeKilobytes != UnknownFreeSpace);
    REQUIRE(freeKilobytes * 1024 % cluster == 0);
    // The need in clusters is twice the larger file (it counts once more)
    // plus the smaller: a of k clusters and b of m <= k make it exactly the
    // free clusters.
    u32 freeClusters = freeKilobytes * 1024 / cluster;
    u32 k = (freeClusters + 2) / 3;
    u32 m = freeClusters - 2 * k;
    REQUIRE(m >= 1);
    REQUIRE(m <= k);
    u32 a = k * cluster;

    SUBCASE("free space equal to the need is not enough") {
        CurrentEntries entries({{"a.bin", KeptFile, SetFolder, a}, {"b.bin", KeptFile, SetFolder, m * cluster}});
        CHECK(CheckDiskSpace() == NotEnoughSpace);
    }
    SUBCASE("one cluster less fits") {
        CurrentEntries entries({{"a.bin", KeptFile, SetFolder, a}, {"b.bin", KeptFile, SetFolder, (m - 1) * cluster}});
        CHECK(CheckDiskSpace() == DiskCheckPassed);
    }
    SUBCASE("one byte more than whole clusters takes one more") {
        CurrentEntries entries(
            {{"a.bin", KeptFile, SetFolder, a}, {"b.bin", KeptFile, SetFolder, (m - 1) * cluster + 1}});
        CHECK(CheckDiskSpace() == NotEnoughSpace);
    }
    SUBCASE("a file that exists needs only what it grows by, the largest still once") {
        // Writing a.bin takes k clusters, and replacing it needs none more.
        WriteWholeFile("S:\\check\\a.bin", std::string(a, 'a'));
        CurrentEntries same({{"a.bin", KeptFile, SetFolder, a}, {"b.bin", KeptFile, SetFolder, m * cluster}});
        CHECK(CheckDiskSpace() == NotEnoughSpace);
        CurrentEntries less({{"a.bin", KeptFile, SetFolder, a}, {"b.bin", KeptFile, SetFolder, (m - 1) * cluster}});
        CHECK(CheckDiskSpace() == DiskCheckPassed);
    }
    SUBCASE("files of a missing folder need their size; a file that exists beside that folder is still found") {
        WriteWholeFile("S:\\check\\a.bin", std::string(a, 'a'));
        // a.bin took k of the free clusters, so k + m are left; counted as
        // new, it would need k more than that.
        CurrentEntries entries({{"new\\b.bin", KeptFile, SetFolder, (m - 1) * cluster},
                                {"new\\c.bin", KeptFile, SetFolder, 0},
                                {"a.bin", KeptFile, SetFolder, a}});
        CHECK(CheckDiskSpace() == DiskCheckPassed);
    }
    SUBCASE("folders and files beside the setup need nothing, but their size counts as the largest") {
        CurrentEntries small({{"a.bin", KeptFile, SetFolder, a}, {"folder", FolderEntry, SetFolder, 0},
                              {"beside.bin", SetupFolderFile, SetFolder, a}});
        CHECK(CheckDiskSpace() == DiskCheckPassed);
        CurrentEntries large({{"a.bin", KeptFile, SetFolder, a},
                              {"beside.bin", SetupFolderFile, SetFolder, freeKilobytes * 1024}});
        CHECK(CheckDiskSpace() == NotEnoughSpace);
    }
    RemoveTree("S:\\check");
}
