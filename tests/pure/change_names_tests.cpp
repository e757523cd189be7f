// Which wake-ups are noise, and which item a wake-up is about.

#include <gtest/gtest.h>

#include "watch/change_names.h"

namespace {

using enum NameChange;

TEST(JudgeWakeUp, NoiseAndTheChosenItem) {
    struct Case {
        const char* name;
        std::vector<ChangedName> records;
        bool quiet;
        const wchar_t* item;
        std::optional<std::wstring> ownFolder = std::nullopt;
    } cases[] = {
        {"a file created", {{Added, L"scan.pdf"}}, false, L"scan.pdf"},
        {"no names (an overflow)", {}, false, L""},
        {"an Office owner file", {{Added, L"~$report.docx"}, {Modified, L"~$REPORT.docx"}}, true, L""},
        {"Office's temporary copy", {{Added, L"~WRL0001.tmp"}}, true, L""},
        {"a tilde name that is no temporary copy", {{Added, L"~notes.txt"}}, false, L"~notes.txt"},
        {"thumbnail cache, any case, any depth", {{Modified, L"Photos\\THUMBS.DB"}}, true, L""},
        {"desktop.ini and .DS_Store", {{Modified, L"desktop.ini"}, {Added, L"x\\.ds_store"}}, true, L""},
        {"partial downloads", {{Added, L"a.crdownload"}, {Modified, L"b.PART"}, {Added, L"c.download"}}, true, L""},
        {"a name that only contains a noise ending", {{Added, L"report.partial"}}, false, L"report.partial"},
        {"the download renamed to its final name", {{RenamedFrom, L"a.crdownload"}, {RenamedTo, L"a.zip"}}, false,
         L"a.zip"},
        {"a rename into a noise name", {{RenamedFrom, L"notes.txt"}, {RenamedTo, L"~$notes.txt"}}, true, L""},
        {"noise beside a real change", {{Added, L"report.docx"}, {Modified, L"~$report.docx"}}, false,
         L"report.docx"},
        {"the last that still exists", {{Added, L"first.txt"}, {Added, L"gone.txt"}, {Removed, L"GONE.txt"}}, false,
         L"first.txt"},
        {"made, then renamed away", {{Added, L"a.tmp1"}, {RenamedFrom, L"a.tmp1"}, {RenamedTo, L"b.txt"}}, false,
         L"b.txt"},
        {"its folder deleted after it", {{Added, L"keep.txt"}, {Added, L"Sub\\x.txt"}, {Removed, L"Sub"}}, false,
         L"keep.txt"},
        {"deletions and old names choose nothing", {{Modified, L"kept.txt"}, {Removed, L"old.txt"},
                                                    {RenamedFrom, L"was.txt"}}, false, L"kept.txt"},
        {"only a deletion", {{Removed, L"old.txt"}}, false, L""},
        {"below the folder: its child", {{Added, L"Sub\\deep\\file.txt"}}, false, L"Sub"},
        {"the program's own folder", {{Modified, L"AppData\\Local\\Vantly\\window.json"}}, true, L"",
         L"AppData\\Local\\Vantly"},
        {"beside the program's own folder", {{Modified, L"AppData\\Local\\Vantlyx.txt"}}, false, L"AppData",
         L"AppData\\Local\\Vantly"},
        {"watched inside the program's own folder", {{Modified, L"window.json"}}, true, L"", L""},
    };
    for (const Case& c : cases) {
        const WakeUpJudgement judged = JudgeWakeUp(c.records, c.ownFolder);
        EXPECT_EQ(judged.quiet, c.quiet) << c.name;
        EXPECT_EQ(judged.item, c.item) << c.name;
    }
}

}  // namespace
