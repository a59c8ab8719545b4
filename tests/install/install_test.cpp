// The installation: `cmake --install` of this build into a temporary DESTDIR
// (prefix /usr, as the Debian package has it), and every installed file
// checked in its place: the programs, the pictures, the desktop entry
// (validated, and matching how the desktop names SubRip files), the icons,
// and the manual pages (rendered by man, their examples run).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "match/voices.h"
#include "pictures.h"
#include "test_files.h"

namespace fs = std::filesystem;
using testing_files::quote;
using testing_files::readFile;
using testing_files::run;
using testing_files::RunResult;
using testing_files::subtitles;
using testing_files::TempDir;
using testing_files::writeFile;
using testing_pictures::convert;
using testing_pictures::distance;

namespace {

const std::string Source = CHRONELLE_SOURCE_DIR;
const int IconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

std::string iconPath(int size)
{
    std::string n = std::to_string(size);
    return "share/icons/hicolor/" + n + "x" + n + "/apps/chronelle.png";
}

// Width and height from a PNG's header; {0, 0} when it is no PNG.
std::pair<int, int> pngSize(const std::string& bytes)
{
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
        bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be32 = [&](size_t at) {
        return int((unsigned char)bytes[at] << 24 | (unsigned char)bytes[at + 1] << 16 |
                   (unsigned char)bytes[at + 2] << 8 | (unsigned char)bytes[at + 3]);
    };
    return {be32(16), be32(20)};
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// Text as man lays it out, with its line breaks and its widened spaces
// undone: one space between words, and none after the hyphen of a word
// broken at it ("sous-" at a line's end, "titres" on the next).
std::string squeeze(const std::string& text)
{
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!std::isspace((unsigned char)text[i])) {
            result += text[i];
            continue;
        }
        bool breaksAWord = text[i] == '\n' && result.size() >= 2 && result.back() == '-' &&
                           std::isalpha((unsigned char)result[result.size() - 2]);
        while (i + 1 < text.size() && std::isspace((unsigned char)text[i + 1]))
            ++i;
        if (!breaksAWord && !result.empty())
            result += ' ';
    }
    return result;
}

// The options that --help lists, as "-a, --add" or "--to".
std::vector<std::string> helpOptions(const std::string& help)
{
    std::vector<std::string> listed;
    for (const std::string& line : lines(help)) {
        size_t dash = line.find_first_not_of(' ');
        if (dash == std::string::npos || line.compare(dash, 1, "-") != 0 || dash == 0)
            continue;
        std::string both = line.substr(dash, line.find("  ", dash) - dash);  // "-a, --add DURATION"
        listed.push_back(both.substr(0, both.find(' ', both.find(',') + 2)));  // "-a, --add"
    }
    return listed;
}

// The commands that a section of examples shows, each on a line of its own.
std::vector<std::string> exampleCommands(const std::string& examples)
{
    std::vector<std::string> commands;
    for (const std::string& line : lines(examples)) {
        size_t start = line.find("chronelle-shift ");
        if (start != std::string::npos && line.find_first_not_of(' ') == start)
            commands.push_back(line.substr(start));
    }
    return commands;
}

// The body of a manual page's section as man renders it: the lines after
// the heading, up to the next heading.
std::string section(const std::string& page, const std::string& heading)
{
    std::string body;
    bool inside = false;
    for (const std::string& line : lines(page)) {
        bool isHeading = !line.empty() && line[0] != ' ';
        if (isHeading) {
            if (inside)
                break;
            inside = line == heading;
            continue;
        }
        if (inside)
            body += line + "\n";
    }
    return body;
}

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        root = new TempDir;
        log = new TempDir;
        RunResult r = run("DESTDIR=" + quote(root->path()) + " " + quote(CMAKE_COMMAND) +
                              " --install " + quote(CHRONELLE_BUILD_DIR) + " --prefix /usr",
                          log->path());
        installStatus = r.status;
        installOutput = r.out + r.err;
    }

    static void TearDownTestSuite()
    {
        delete root;
        delete log;
    }

    void SetUp() override { ASSERT_EQ(installStatus, 0) << installOutput; }

    // An installed file, by its place under the prefix.
    static std::string installed(const std::string& place)
    {
        return root->path() + "/usr/" + place;
    }

    // man's rendering of an installed page (in English, or in the language
    // `language`, "fr/"), with groff's warnings on.
    RunResult man(const std::string& page, const std::string& language = "")
    {
        // No hyphenation: a word is only ever broken at its own hyphen.
        return run("MANWIDTH=80 LC_ALL=C.UTF-8 man --nh --warnings -P cat -l " +
                       quote(installed("share/man/" + language + "man1/" + page)),
                   work.path());
    }

    static TempDir* root;
    static TempDir* log;
    static int installStatus;
    static std::string installOutput;
    TempDir work;
};

TempDir* InstallTest::root = nullptr;
TempDir* InstallTest::log = nullptr;
int InstallTest::installStatus = -1;
std::string InstallTest::installOutput;

TEST_F(InstallTest, EveryFileInItsPlaceAndNothingElse)
{
    std::map<std::string, int> expected = {
        {"usr/bin/chronelle", 0755},
        {"usr/bin/chronelle-shift", 0755},
        {"usr/share/chronelle/icone_chronelle.png", 0644},
        {"usr/share/chronelle/banniere.jpg", 0644},
        {"usr/share/applications/chronelle.desktop", 0644},
        {"usr/share/man/man1/chronelle.1.gz", 0644},
        {"usr/share/man/man1/chronelle-shift.1.gz", 0644},
        {"usr/share/locale/fr/LC_MESSAGES/chronelle.mo", 0644},
    };
    for (int size : IconSizes)
        expected["usr/" + iconPath(size)] = 0644;
    for (const fs::directory_entry& e : fs::directory_iterator(Source + "/man/fr"))
        expected["usr/share/man/fr/man1/" + e.path().filename().string() + ".gz"] = 0644;
#ifdef CHRONELLE_HAVE_MATCH
    expected["usr/libexec/chronelle/chronelle-shift-match"] = 0755;
#endif

    std::map<std::string, int> found;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root->path())) {
        if (e.is_directory() && !e.is_symlink())
            continue;
        std::string place = fs::relative(e.path(), root->path()).string();
        EXPECT_TRUE(e.is_regular_file() && !e.is_symlink()) << place << " is not a plain file";
        struct stat st = {};
        ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
        found[place] = int(st.st_mode & 07777);
    }
    EXPECT_EQ(found, expected);
    // No program installed has the tests' pause.
    for (const auto& f : found) {
        if (f.second == 0755) {
            EXPECT_EQ(readFile(root->path() + "/" + f.first).find("CHRONELLE_TEST_PAUSE"),
                      std::string::npos)
                << f.first;
        }
    }

    // The data files are the sources' own.
    EXPECT_EQ(readFile(installed("share/chronelle/icone_chronelle.png")),
              readFile(Source + "/data/icone_chronelle.png"));
    EXPECT_EQ(readFile(installed("share/chronelle/banniere.jpg")),
              readFile(Source + "/data/banniere.jpg"));
    EXPECT_EQ(readFile(installed("share/applications/chronelle.desktop")),
              readFile(Source + "/data/chronelle.desktop"));
}

TEST_F(InstallTest, TheInstalledCommandLineToolShiftsAFile)
{
    std::string shift = installed("bin/chronelle-shift");
    RunResult version = run(quote(shift) + " --version", work.path());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("chronelle-shift ") + CHRONELLE_VERSION + "\n");

    std::string film = work.file("film.srt");
    writeFile(film, subtitles(3));
    RunResult r = run(quote(shift) + " --add 0:01:00 film.srt", work.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "film.srt: 3 timing lines shifted\n");
    // In French, from the installed catalogue.
    RunResult fr = run(
        "env -u LC_ALL -u LANGUAGE LANG=fr_FR.UTF-8 " + quote(shift) + " --dry-run -a 0 film.srt",
        work.path());
    EXPECT_EQ(fr.out.rfind("film.srt\u00a0: 3 lignes de temps seraient décalées\n", 0), 0u)
        << fr.out;
    std::string shifted = subtitles(3);
    // subtitles(3) starts its times at 20, 25 and 30 seconds: one minute more.
    for (size_t at = 0; (at = shifted.find("00:00:", at)) != std::string::npos; at += 6)
        shifted.replace(at, 6, "00:01:");
    EXPECT_EQ(readFile(film), shifted);
#ifdef CHRONELLE_HAVE_MATCH
    // --match is handed over to the installed program that has the matcher:
    // cues 2.5 s early put back on a well-timed subtitle's (to 10 ms).
    auto cues = [](std::int64_t laterMs) {
        std::string s;
        std::int64_t start = 20000 + laterMs;
        for (int i = 0; i < 25; ++i) {
            start += 1500 + i * 7919 % 13 * 310;  // gaps with no pattern
            s += std::to_string(i + 1) + "\n" + testing_files::clock(start) + " --> " +
                 testing_files::clock(start + 1000) + "\nRéplique " + std::to_string(i) + "\n\n";
        }
        return s;
    };
    writeFile(work.file("reference.srt"), cues(0));
    writeFile(film, cues(-2500));
    r = run(quote(shift) + " --match reference.srt film.srt", work.path());
    EXPECT_EQ(r.status, 0) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        r.out, m, std::regex("the same as chronelle-shift --add 2\\.(49[0-9]|5|50[0-9]) film")))
        << r.out;
    EXPECT_EQ(
        run(quote(shift) + " -q --to " + testing_files::clock(21500) + " film.srt", work.path())
            .status,
        0);
    EXPECT_EQ(readFile(film), cues(0)) << "the first cue was 21.5 s, as the others";
#endif
}

TEST_F(InstallTest, TheDesktopEntryValidatesAndOffersTheWindowForSubRipFiles)
{
    std::string entry = installed("share/applications/chronelle.desktop");
    RunResult valid = run("desktop-file-validate " + quote(entry), work.path());
    EXPECT_EQ(valid.status, 0);
    EXPECT_EQ(valid.out + valid.err, "") << "no errors, warnings or hints";

    GKeyFile* keys = g_key_file_new();
    ASSERT_TRUE(g_key_file_load_from_file(keys, entry.c_str(), G_KEY_FILE_NONE, nullptr));
    auto value = [&](const char* key) {
        gchar* v = g_key_file_get_string(keys, "Desktop Entry", key, nullptr);
        std::string s = v ? v : "";
        g_free(v);
        return s;
    };
    EXPECT_EQ(value("Type"), "Application");
    EXPECT_EQ(value("Name"), "Chronelle");
    // In French, as the window is.
    EXPECT_NE(value("GenericName").find("sous-titres"), std::string::npos) << value("GenericName");
    EXPECT_NE(value("Comment").find("sous-titres"), std::string::npos) << value("Comment");
    EXPECT_EQ(value("Terminal"), "false");

    // One file at a time, as its command line takes it; the program named is
    // the installed window.
    EXPECT_EQ(value("Exec"), "chronelle %f");
    EXPECT_TRUE(g_file_test(installed("bin/chronelle").c_str(), G_FILE_TEST_IS_EXECUTABLE));
    // The icon is one of the theme's, installed at every size.
    EXPECT_EQ(value("Icon"), "chronelle");
    for (int size : IconSizes)
        EXPECT_TRUE(g_file_test(installed(iconPath(size)).c_str(), G_FILE_TEST_IS_REGULAR)) << size;

    gsize count = 0;
    gchar** types = g_key_file_get_string_list(keys, "Desktop Entry", "MimeType", &count, nullptr);
    std::vector<std::string> mimeTypes(types, types + count);
    g_strfreev(types);
    g_key_file_free(keys);
    EXPECT_EQ(mimeTypes, std::vector<std::string>{"application/x-subrip"});

    // That is the type this system's MIME database gives a .srt file, so the
    // file manager offers the window for subtitle files.
    std::string srt = subtitles(3);
    gboolean uncertain = TRUE;
    gchar* type = g_content_type_guess("film.srt", reinterpret_cast<const guchar*>(srt.data()),
                                       srt.size(), &uncertain);
    gchar* mime = g_content_type_get_mime_type(type);
    EXPECT_STREQ(mime, "application/x-subrip");
    g_free(mime);
    g_free(type);
}

TEST_F(InstallTest, TheIconsAreTheWindowsPictureAtEverySize)
{
    std::string picture = Source + "/data/icone_chronelle.png";
    for (int size : IconSizes) {
        SCOPED_TRACE(size);
        std::string icon = installed(iconPath(size));
        EXPECT_EQ(pngSize(readFile(icon)), std::make_pair(size, size));
        // Compared at the smaller of the two sizes: the picture reduced, or
        // the larger icon reduced to the picture's 128 pixels.
        int compared = std::min(size, 128);
        std::string n = std::to_string(compared) + "x" + std::to_string(compared);
        std::string a = work.file("a.png"), b = work.file("b.png");
        ASSERT_TRUE(convert(picture, "-resize " + n, a, work.path()));
        ASSERT_TRUE(convert(icon, "-resize " + n, b, work.path()));
        EXPECT_LT(distance(a, b, work.path()), 0.06);
    }
    // The comparison tells pictures apart: the banner is not the icon.
    std::string banner = work.file("banner.png");
    ASSERT_TRUE(convert(Source + "/data/banniere.jpg", "-resize 128x128!", banner, work.path()));
    EXPECT_GT(distance(picture, banner, work.path()), 0.15);
}

TEST_F(InstallTest, TheManualOfTheCommandLineToolRendersAndIsTrue)
{
    RunResult page = man("chronelle-shift.1.gz");
    ASSERT_EQ(page.status, 0) << page.err;
    EXPECT_EQ(page.err, "") << "groff warnings";
    for (const char* heading : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "DURATION AND TIME",
                                "EXIT STATUS", "EXAMPLES", "SEE ALSO"})
        EXPECT_NE(section(page.out, heading), "") << heading;
    EXPECT_NE(page.out.find(std::string("chronelle ") + CHRONELLE_VERSION), std::string::npos)
        << "the version in the page's footer";

    // Every option that the tool's --help lists is in the page.
    RunResult help = run(quote(installed("bin/chronelle-shift")) + " --help", work.path());
    ASSERT_EQ(help.status, 0);
    std::string options = section(page.out, "OPTIONS");
    std::vector<std::string> listed = helpOptions(help.out);
    for (const std::string& both : listed)
        EXPECT_NE(options.find(both), std::string::npos) << both;
    EXPECT_EQ(listed.size(), 20u);

    // Each documented exit status, with its meaning.
    std::string status = squeeze(section(page.out, "EXIT STATUS"));
    for (const char* expected : {"0 Every file was shifted", "1 At least one file was refused",
                                 "2 Usage error", "128 + N Stopped by signal"})
        EXPECT_NE(status.find(expected), std::string::npos) << expected << "\n" << status;

    // The examples work as shown, on real files named as they name them.
    std::string examples = work.file("examples");
    ASSERT_EQ(mkdir(examples.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((examples + "/saison1").c_str(), 0755), 0);
    for (const char* name :
         {"film.srt", "-version-courte.srt", "saison1/e01.srt", "saison1/e02.srt"})
        writeFile(examples + "/" + name, subtitles(4));
    // Two languages of one film, the French 2.5 s late.
    std::vector<voices::Cue> cues = voices::cues(600, 3);
    writeFile(examples + "/film.en.srt", voices::srt(cues));
    for (voices::Cue& c : cues) {
        c.startMs += 2500;
        c.endMs += 2500;
    }
    writeFile(examples + "/film.fr.srt", voices::srt(cues));
    int ran = 0;
    for (const std::string& command : exampleCommands(section(page.out, "EXAMPLES"))) {
        RunResult r =
            run("(PATH=" + quote(installed("bin")) + ":\"$PATH\"; " + command + ")", examples);
        EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
        ++ran;
    }
    EXPECT_EQ(ran, 11);
    EXPECT_EQ(readFile(examples + "/film.fr.srt"), readFile(examples + "/film.en.srt"));
    EXPECT_NE(readFile(examples + "/film.srt"), subtitles(4)) << "the examples shift";
}

TEST_F(InstallTest, TheFrenchManualsRenderAndSayWhatTheEnglishOnesSay)
{
    // Every page of man/fr/, installed beside the English ones.
    int pages = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(Source + "/man/fr")) {
        std::string name = e.path().filename().string() + ".gz";
        SCOPED_TRACE(name);
        RunResult page = man(name, "fr/");
        ASSERT_EQ(page.status, 0) << page.err;
        EXPECT_EQ(page.err, "") << "groff warnings";
        for (const char* heading : {"NOM", "SYNOPSIS", "DESCRIPTION", "VOIR AUSSI"})
            EXPECT_NE(section(page.out, heading), "") << heading;
        EXPECT_EQ(page.out.find('@'), std::string::npos) << "a value left unfilled";
        ++pages;
    }
    EXPECT_GE(pages, 1);

    // chronelle-shift's: every option of its French help, and the commands
    // of the English page's examples, the same.
    RunResult fr = man("chronelle-shift.1.gz", "fr/"), en = man("chronelle-shift.1.gz");
    RunResult help =
        run("env -u LC_ALL LANG=fr_FR.UTF-8 " + quote(installed("bin/chronelle-shift")) + " --help",
            work.path());
    ASSERT_EQ(help.out.rfind("utilisation", 0), 0u) << help.out;
    std::vector<std::string> listed = helpOptions(help.out);
    for (const std::string& both : listed)
        EXPECT_NE(section(fr.out, "OPTIONS").find(both), std::string::npos) << both;
    EXPECT_EQ(listed.size(), 20u);
    EXPECT_EQ(exampleCommands(section(fr.out, "EXEMPLES")),
              exampleCommands(section(en.out, "EXAMPLES")));
}

TEST_F(InstallTest, TheManualOfTheWindowRenders)
{
    RunResult page = man("chronelle.1.gz");
    ASSERT_EQ(page.status, 0) << page.err;
    EXPECT_EQ(page.err, "") << "groff warnings";
    for (const char* heading :
         {"NAME", "SYNOPSIS", "DESCRIPTION", "FILES", "EXIT STATUS", "SEE ALSO"})
        EXPECT_NE(section(page.out, heading), "") << heading;
    EXPECT_EQ(page.out.find('@'), std::string::npos) << "a value left unfilled";
    // The texts of the window as it shows them, and where it finds its
    // pictures when they are not in the working directory.
    std::string text = squeeze(page.out);
    for (const char* shown :
         {"Ouvrir un fichier sous-titres", "Type de fichier non compatible", "Move It!", "Ajouter",
          "Retirer", "Modification du sous-titres r\xC3\xA9ussie", "Erreur"})
        EXPECT_NE(text.find(shown), std::string::npos) << shown;
    std::string files = squeeze(section(page.out, "FILES"));
    EXPECT_NE(files.find("../share/chronelle"), std::string::npos) << files;
    EXPECT_NE(files.find(CHRONELLE_BUILT_DATADIR), std::string::npos) << files;
}

}  // namespace
