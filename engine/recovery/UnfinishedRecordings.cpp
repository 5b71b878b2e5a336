#include "engine/recovery/UnfinishedRecordings.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "mux/flv/FlvRepair.h"
#include "mux/journal/RecordingJournal.h"
#include "mux/mp4/Mp4Repair.h"

namespace quillet {

std::vector<std::string> findUnfinishedRecordings(const std::string& folder)
{
    std::vector<std::string> out;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return out;
    const std::string prefix = folder.empty() ? std::string() : folder.back() == '/' ? folder : folder + "/";
    while (const dirent* e = readdir(dir)) {
        std::string recording;
        if (!recordingForJournal(e->d_name, &recording))
            continue;
        const std::string journal = prefix + e->d_name;
        struct stat st {};
        if (stat(journal.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || journalInUse(journal))
            continue;
        out.push_back(prefix + recording);
    }
    closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

int repairRecording(const std::string& file, RecordingRepairReport* report, const RepairProgress& progress)
{
    RecordingRepairReport local;
    if (!report)
        report = &local;
    JournalContents journal;
    if (!readJournal(journalPathFor(file), &journal)) {
        *report = RecordingRepairReport{};
        report->error = "there is no readable journal " + journalPathFor(file);
        return 0;
    }
    switch (journal.kind) {
    case JournalKind::Mp4: return repairMp4Recording(file, report, progress);
    case JournalKind::Flv: return repairFlvRecording(file, report);
    default: break;
    }
    *report = RecordingRepairReport{};
    report->error = "the journal " + journalPathFor(file) + " belongs to no recording this program can repair";
    return 0;
}

} // namespace quillet
