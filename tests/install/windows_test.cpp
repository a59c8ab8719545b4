// The Windows files, checked on this system: the .ico holds the application
// icon in its six sizes at 32 bits per pixel, drawn from the window's
// picture; the resource script compiles with MinGW-w64's windres and carries
// that icon and the version; the toolchain file cross-compiles the core and
// chronelle-shift. (The window itself needs a GTK+ 2 bundle for Windows,
// which Debian does not have.)
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pictures.h"
#include "test_files.h"

using testing_files::quote;
using testing_files::readFile;
using testing_files::run;
using testing_files::RunResult;
using testing_files::TempDir;
using testing_pictures::convert;
using testing_pictures::distance;

namespace {

const std::string Source = CHRONELLE_SOURCE_DIR;
const std::string Ico = Source + "/windows/chronelle.ico";
const std::vector<int> Sizes = {32, 48, 52, 56, 60, 64};

uint32_t le16(const std::string& b, size_t at)
{
    return uint32_t((unsigned char)b[at]) | uint32_t((unsigned char)b[at + 1]) << 8;
}

uint32_t le32(const std::string& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

// One picture of an icon: its directory entry and its bytes.
struct IconImage {
    int width = 0, height = 0, planes = 0, bitCount = 0;
    uint32_t bytes = 0;
    int id = 0;  // in a resource's icon group: the icon resource it names
    std::string data;
};

// The directory of an .ico file (offsets to the images), or of an icon group
// resource (icon ids instead); `ok` false when it does not hold together.
std::vector<IconImage> iconDirectory(const std::string& b, bool group, bool* ok)
{
    *ok = false;
    std::vector<IconImage> images;
    const size_t entrySize = group ? 14 : 16;
    if (b.size() < 6 || le16(b, 0) != 0 || le16(b, 2) != 1)
        return images;
    uint32_t count = le16(b, 4);
    if (b.size() < 6 + count * entrySize)
        return images;
    for (uint32_t i = 0; i < count; ++i) {
        size_t e = 6 + i * entrySize;
        IconImage image;
        image.width = (unsigned char)b[e] ? (unsigned char)b[e] : 256;
        image.height = (unsigned char)b[e + 1] ? (unsigned char)b[e + 1] : 256;
        image.planes = int(le16(b, e + 4));
        image.bitCount = int(le16(b, e + 6));
        image.bytes = le32(b, e + 8);
        if (group) {
            image.id = int(le16(b, e + 12));
        } else {
            uint32_t offset = le32(b, e + 12);
            if (uint64_t(offset) + image.bytes > b.size())
                return images;
            image.data = b.substr(offset, image.bytes);
        }
        images.push_back(image);
    }
    *ok = true;
    return images;
}

// One resource of a compiled .res file.
struct Resource {
    int type = 0;  // numeric types only: 3 icon, 14 icon group, 16 version
    int name = 0;  // numeric names only (0 for a named one)
    std::string data;
};

std::vector<Resource> resources(const std::string& b)
{
    std::vector<Resource> result;
    size_t at = 0;
    while (at + 32 <= b.size()) {
        uint32_t dataSize = le32(b, at), headerSize = le32(b, at + 4);
        size_t field = at + 8;
        int ids[2] = {0, 0};
        for (int& id : ids) {  // type, then name: 0xFFFF and a number, or a string
            if (le16(b, field) == 0xFFFF) {
                id = int(le16(b, field + 2));
                field += 4;
            } else {
                while (field + 2 <= b.size() && le16(b, field) != 0)
                    field += 2;
                field += 2;
            }
        }
        if (headerSize < 32 || at + headerSize + dataSize > b.size())
            break;
        if (dataSize > 0)
            result.push_back({ids[0], ids[1], b.substr(at + headerSize, dataSize)});
        at += headerSize + ((dataSize + 3) & ~3u);
    }
    return result;
}

std::string utf16(const std::string& ascii)
{
    std::string s;
    for (char c : ascii)
        s += std::string(1, c) + '\0';
    return s;
}

// The first of `names` that is on the PATH, or "".
std::string tool(std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        TempDir dir;
        RunResult r = run(std::string("command -v ") + name, dir.path());
        if (r.status == 0)
            return name;
    }
    return "";
}

TEST(WindowsIcon, SixSquareSizesAt32BitsPerPixel)
{
    bool ok = false;
    std::vector<IconImage> images = iconDirectory(readFile(Ico), false, &ok);
    ASSERT_TRUE(ok) << "not an .ico file";
    std::vector<int> sizes;
    for (const IconImage& image : images) {
        SCOPED_TRACE(image.width);
        sizes.push_back(image.width);
        EXPECT_EQ(image.height, image.width);
        EXPECT_EQ(image.planes, 1);
        EXPECT_EQ(image.bitCount, 32);
        // A bitmap (the form every Windows reads at these sizes): its header,
        // 4 bytes a pixel, then the mask of 1 bit a pixel, rows of 4 bytes.
        const std::string& d = image.data;
        ASSERT_GE(d.size(), 40u);
        EXPECT_EQ(le32(d, 0), 40u);
        EXPECT_EQ(int32_t(le32(d, 4)), image.width);
        EXPECT_EQ(int32_t(le32(d, 8)), 2 * image.height);
        EXPECT_EQ(le16(d, 12), 1u);
        EXPECT_EQ(le16(d, 14), 32u);
        uint32_t pixels = uint32_t(image.width * image.height * 4);
        uint32_t mask = uint32_t((image.width + 31) / 32 * 4 * image.height);
        EXPECT_EQ(d.size(), 40 + pixels + mask);
    }
    EXPECT_EQ(sizes, Sizes);
}

TEST(WindowsIcon, EverySizeIsTheWindowsPicture)
{
    TempDir dir;
    std::string picture = Source + "/data/icone_chronelle.png";
    for (size_t i = 0; i < Sizes.size(); ++i) {
        std::string n = std::to_string(Sizes[i]);
        SCOPED_TRACE(n);
        std::string fromIco = dir.file("ico.png"), reduced = dir.file("reduced.png");
        ASSERT_TRUE(convert(Ico + "[" + std::to_string(i) + "]", "", fromIco, dir.path()));
        ASSERT_TRUE(convert(picture, "-resize " + n + "x" + n, reduced, dir.path()));
        EXPECT_LT(distance(fromIco, reduced, dir.path()), 0.03);
    }
}

TEST(WindowsResources, TheScriptCompilesWithTheIconAndTheVersion)
{
    std::string windres = tool({"i686-w64-mingw32-windres", "x86_64-w64-mingw32-windres"});
    if (windres.empty())
        GTEST_SKIP() << "MinGW-w64's windres is missing (bash tools/deps.sh test installs it)";
    TempDir dir;
    std::string res = dir.file("chronelle.res");
    RunResult r = run(windres + " -DCHRONELLE_VERSION_MAJOR=" + CHRONELLE_VERSION_MAJOR +
                          " -DCHRONELLE_VERSION_MINOR=" + CHRONELLE_VERSION_MINOR +
                          " -DCHRONELLE_VERSION_PATCH=" + CHRONELLE_VERSION_PATCH + " -O res " +
                          quote(Source + "/windows/chronelle.rc") + " -o " + quote(res),
                      dir.path());
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<Resource> all = resources(readFile(res));
    std::vector<const Resource*> groups, versions;
    for (const Resource& resource : all) {
        if (resource.type == 14)
            groups.push_back(&resource);
        if (resource.type == 16)
            versions.push_back(&resource);
    }
    // One icon group, the first one (Windows takes it for the executable),
    // holding the .ico's six pictures byte for byte.
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->name, 1);
    bool ok = false;
    std::vector<IconImage> group = iconDirectory(groups[0]->data, true, &ok);
    ASSERT_TRUE(ok);
    std::vector<IconImage> ico = iconDirectory(readFile(Ico), false, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(group.size(), ico.size());
    for (size_t i = 0; i < group.size(); ++i) {
        SCOPED_TRACE(ico[i].width);
        EXPECT_EQ(group[i].width, ico[i].width);
        EXPECT_EQ(group[i].bitCount, 32);
        EXPECT_EQ(group[i].bytes, ico[i].bytes);
        int found = 0;
        for (const Resource& resource : all)
            if (resource.type == 3 && resource.name == group[i].id) {
                ++found;
                EXPECT_EQ(resource.data, ico[i].data);
            }
        EXPECT_EQ(found, 1) << "icon " << group[i].id;
    }

    // The version information names the program and its version.
    ASSERT_EQ(versions.size(), 1u);
    const std::string& v = versions[0]->data;
    std::string version = std::string(CHRONELLE_VERSION_MAJOR) + "." + CHRONELLE_VERSION_MINOR +
                          "." + CHRONELLE_VERSION_PATCH;
    // A value follows its key and the padding to the next 4 bytes.
    size_t key = v.find(utf16("FileVersion") + std::string(2, '\0'));
    ASSERT_NE(key, std::string::npos);
    size_t value = (key + utf16("FileVersion").size() + 2 + 3) / 4 * 4;
    EXPECT_EQ(v.find(utf16(version) + std::string(2, '\0'), key), value)
        << "FileVersion " << version;
    EXPECT_NE(v.find(utf16("chronelle.exe")), std::string::npos);
    // The numeric file version: major and minor in one word, patch and 0 in
    // the next, after the fixed information's signature.
    size_t fixed = v.find(std::string("\xBD\x04\xEF\xFE", 4));
    ASSERT_NE(fixed, std::string::npos);
    EXPECT_EQ(le32(v, fixed + 8), uint32_t(std::stoi(CHRONELLE_VERSION_MAJOR)) << 16 |
                                      uint32_t(std::stoi(CHRONELLE_VERSION_MINOR)));
    EXPECT_EQ(le32(v, fixed + 12), uint32_t(std::stoi(CHRONELLE_VERSION_PATCH)) << 16);
}

TEST(WindowsBuild, TheToolchainFileCrossCompilesTheCommandLineTool)
{
    if (tool({"i686-w64-mingw32-g++"}).empty())
        GTEST_SKIP()
            << "MinGW-w64's i686 compiler is missing (bash tools/deps.sh test installs it)";
    TempDir dir;
    std::string build = dir.file("build");
    RunResult configure =
        run(quote(CMAKE_COMMAND) + " -S " + quote(Source) + " -B " + quote(build) +
                " -DCMAKE_TOOLCHAIN_FILE=" + quote(Source + "/cmake/mingw-w64.cmake") +
                " -DCHRONELLE_BUILD_GUI=OFF -DCHRONELLE_BUILD_TESTS=OFF -DCHRONELLE_WERROR=ON",
            dir.path());
    ASSERT_EQ(configure.status, 0) << configure.out << configure.err;
    RunResult make = run(quote(CMAKE_COMMAND) + " --build " + quote(build) + " -j 2", dir.path());
    ASSERT_EQ(make.status, 0) << make.out << make.err;

    std::string exe = build + "/cli/chronelle-shift.exe";
    RunResult kind = run("file -b " + quote(exe), dir.path());
    EXPECT_EQ(kind.out.rfind("PE32 executable (console) Intel 80386", 0), 0u) << kind.out;
    // The compiler's runtime is inside: no DLL of GCC's to carry along.
    RunResult imports = run("i686-w64-mingw32-objdump -p " + quote(exe), dir.path());
    ASSERT_EQ(imports.status, 0);
    std::istringstream in(imports.out);
    std::set<std::string> dlls;
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find("DLL Name: ");
        if (at != std::string::npos)
            dlls.insert(line.substr(at + 10));
    }
    EXPECT_TRUE(dlls.count("KERNEL32.dll")) << "imports read";
    for (const std::string& dll : dlls)
        EXPECT_TRUE(dll.rfind("libstdc++", 0) != 0 && dll.rfind("libgcc", 0) != 0) << dll;
}

}  // namespace
