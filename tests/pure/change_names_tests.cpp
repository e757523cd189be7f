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
        {"a file created", {{kAdded, L"scan.pdf"}}, false, L"scan.pdf"},
        {"no names (an overflow)", {}, false, L""},
        {"an Office owner file", {{kAdded, L"~$report.docx"}, {kModified, L"~$REPORT.docx"}}, true, L""},
        {"Office's temporary copy", {{kAdded, L"~WRL0001.tmp"}}, true, L""},
        {"a tilde name that is no temporary copy", {{kAdded, L"~notes.txt"}}, false, L"~notes.txt"},
        {"thumbnail cache, any case, any depth", {{kModified, L"Photos\\THUMBS.DB"}}, true, L""},
        {"desktop.ini and .DS_Store", {{kModified, L"desktop.ini"}, {kAdded, L"x\\.ds_store"}}, true, L""},
        {"partial downloads", {{kAdded, L"a.crdownload"}, {kModified, L"b.PART"}, {kAdded, L"c.download"}}, true, L""},
        {"a name that only contains a noise ending", {{kAdded, L"report.partial"}}, false, L"report.partial"},
        {"the download renamed to its final name", {{kRenamedFrom, L"a.crdownload"}, {kRenamedTo, L"a.zip"}}, false,
         L"a.zip"},
        {"a rename into a noise name", {{kRenamedFrom, L"notes.txt"}, {kRenamedTo, L"~$notes.txt"}}, true, L""},
        {"noise beside a real change", {{kAdded, L"report.docx"}, {kModified, L"~$report.docx"}}, false,
         L"report.docx"},
        {"the last that still exists", {{kAdded, L"first.txt"}, {kAdded, L"gone.txt"}, {kRemoved, L"GONE.txt"}}, false,
         L"first.txt"},
        {"made, then renamed away", {{kAdded, L"a.tmp1"}, {kRenamedFrom, L"a.tmp1"}, {kRenamedTo, L"b.txt"}}, false,
         L"b.txt"},
        {"its folder deleted after it", {{kAdded, L"keep.txt"}, {kAdded, L"Sub\\x.txt"}, {kRemoved, L"Sub"}}, false,
         L"keep.txt"},
        {"deletions and old names choose nothing", {{kModified, L"kept.txt"}, {kRemoved, L"old.txt"},
                                                    {kRenamedFrom, L"was.txt"}}, false, L"kept.txt"},
        {"only a deletion", {{kRemoved, L"old.txt"}}, false, L""},
        {"below the folder: its child", {{kAdded, L"Sub\\deep\\file.txt"}}, false, L"Sub"},
        {"the program's own folder", {{kModified, L"AppData\\Local\\Vantly\\window.json"}}, true, L"",
         L"AppData\\Local\\Vantly"},
        {"beside the program's own folder", {{kModified, L"AppData\\Local\\Vantlyx.txt"}}, false, L"AppData",
         L"AppData\\Local\\Vantly"},
        {"watched inside the program's own folder", {{kModified, L"window.json"}}, true, L"", L""},
    };
    for (const Case& c : cases) {
        const WakeUpJudgement judged = JudgeWakeUp(c.records, c.ownFolder);
        EXPECT_EQ(judged.quiet, c.quiet) << c.name;
        EXPECT_EQ(judged.item, c.item) << c.name;
    }
}

}  // namespace
