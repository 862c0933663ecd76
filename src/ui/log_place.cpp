// SPDX-License-Identifier: MIT
#include "ui/log_place.h"

#include "ui/log_place_seam.h"

namespace {

std::size_t Length(const wchar_t* text) {
    std::size_t length = 0;
    while (text[length]) ++length;
    return length;
}

// Appends `text` to `dest` (capacity characters); 0, with as much as fitted, when it does not fit.
int Append(wchar_t* dest, std::size_t capacity, const wchar_t* text) {
    std::size_t used = Length(dest);
    for (; *text; ++text) {
        if (used + 1 >= capacity) return 0;
        dest[used++] = *text;
    }
    dest[used] = L'\0';
    return 1;
}

int AppendNumber(wchar_t* dest, std::size_t capacity, unsigned long number) {
    wchar_t digits[16];
    int length = 0;
    do {
        digits[length++] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number);
    wchar_t text[16];
    for (int i = 0; i < length; ++i) text[i] = digits[length - 1 - i];
    text[length] = L'\0';
    return Append(dest, capacity, text);
}

int Join(wchar_t* dest, const wchar_t* a, const wchar_t* b, const wchar_t* c = L"",
         const wchar_t* d = L"") {
    dest[0] = L'\0';
    return Append(dest, LOG_PATH_SIZE, a) && Append(dest, LOG_PATH_SIZE, b) &&
           Append(dest, LOG_PATH_SIZE, c) && Append(dest, LOG_PATH_SIZE, d);
}

// Why a place was not used, for the note.
struct Refusal {
    const wchar_t* why;
    wchar_t where[LOG_PATH_SIZE];  // the folder or file concerned
    unsigned long error;           // 0 when Windows gave none
    int untrusted;                 // its folder was made by someone else
};

void Refuse(Refusal* refusal, const wchar_t* why, const wchar_t* where, unsigned long error = 0) {
    refusal->why = why;
    refusal->where[0] = L'\0';
    Append(refusal->where, LOG_PATH_SIZE, where);
    refusal->error = error;
    refusal->untrusted = 0;
}

void NoteRefusal(LogOpened* opened, const wchar_t* what, const wchar_t* place,
                 const Refusal& refusal) {
    wchar_t* note = opened->note;
    Append(note, LOG_NOTE_SIZE, what);
    Append(note, LOG_NOTE_SIZE, place);
    Append(note, LOG_NOTE_SIZE, L": ");
    Append(note, LOG_NOTE_SIZE, refusal.where);
    Append(note, LOG_NOTE_SIZE, L" ");
    Append(note, LOG_NOTE_SIZE, refusal.why);
    if (refusal.error) {
        Append(note, LOG_NOTE_SIZE, L" (Windows error ");
        AppendNumber(note, LOG_NOTE_SIZE, refusal.error);
        Append(note, LOG_NOTE_SIZE, L")");
    }
    Append(note, LOG_NOTE_SIZE, L"\r\n");
}

// The end of the root of `path` ("C:\", "\\server\share\"): no folder is made there.
std::size_t RootLength(const wchar_t* path) {
    if (path[0] == L'\\' && path[1] == L'\\') {
        int separators = 0;
        std::size_t i = 2;
        for (; path[i]; ++i)
            if (path[i] == L'\\' && ++separators == 2) return i + 1;
        return i;
    }
    return path[0] && path[1] == L':' && path[2] == L'\\' ? 3 : 0;
}

// Makes each missing folder of `path` up to its last backslash. The folder the file goes in,
// when it was there already, must be trusted: its maker could put anything in it.
int MakeFoldersOf(const wchar_t* path, int elevated, int checkOwner, Refusal* refusal) {
    wchar_t folder[LOG_PATH_SIZE];
    std::size_t root = RootLength(path);
    if (root == 0) {
        Refuse(refusal, L"is no full path", path);
        return 0;
    }
    LogFolderState last = LOG_FOLDER_THERE;
    std::size_t i = 0;
    for (; path[i]; ++i) {
        if (path[i] == L'\\' && i >= root) {
            folder[i] = L'\0';
            unsigned long error = 0;
            last = MakeLogFolder(folder, elevated, &error);
            if (last == LOG_FOLDER_FAILED) {
                Refuse(refusal, L"cannot be made", folder, error);
                return 0;
            }
        }
        folder[i] = path[i];
    }
    folder[i] = L'\0';
    // Its folder: the last backslash.
    std::size_t end = i;
    while (end > 0 && path[end - 1] != L'\\') --end;
    if (end <= root) return 1;  // a file in the root: no folder of anyone's
    folder[end - 1] = L'\0';
    if (elevated && checkOwner && last == LOG_FOLDER_THERE && !LogFolderOwnerTrusted(folder)) {
        Refuse(refusal, L"is not owned by SYSTEM or Administrators", folder);
        refusal->untrusted = 1;
        return 0;
    }
    return 1;
}

// Opens (or, `anew`, makes) the log at `path`; elevated, only where its final path is the one
// meant. Null with the reason in `refusal`.
void* OpenChecked(const wchar_t* path, int anew, int elevated, unsigned long long* size,
                  Refusal* refusal) {
    unsigned long error = 0;
    void* file = OpenLogFile(path, anew, size, &error);
    if (!file) {
        Refuse(refusal, anew ? L"cannot be made anew" : L"cannot be opened", path, error);
        return nullptr;
    }
    if (elevated && !LogFinalPathIs(file, path)) {
        CloseLogFile(file);
        Refuse(refusal, L"leads elsewhere through a link", path);
        return nullptr;
    }
    return file;
}

// Opens the log at `path`, checked; a log past its limit is moved to "<path>.old" and begun
// anew. 1 with the file in `opened`.
int TryPlace(const wchar_t* path, int elevated, int checkOwner, LogOpened* opened,
             Refusal* refusal) {
    if (!MakeFoldersOf(path, elevated, checkOwner, refusal)) return 0;
    unsigned long long size = 0;
    void* file = OpenChecked(path, 0, elevated, &size, refusal);
    if (!file) return 0;
    if (size > LOG_SIZE_LIMIT) {
        // Never cut in place: the old lines stay readable as ".old", and the new file is made
        // new, so a link put at the name meanwhile is refused rather than followed.
        CloseLogFile(file);
        wchar_t old[LOG_PATH_SIZE];
        if (!Join(old, path, L".old") || !RenameLogFile(path, old)) {
            Refuse(refusal, L"is full and cannot be moved aside", path);
            return 0;
        }
        file = OpenChecked(path, 1, elevated, &size, refusal);
        if (!file) return 0;
    }
    opened->file = file;
    opened->fresh = size == 0;
    Join(opened->path, path, L"");
    return 1;
}

// The default place: with the dialog, the user's temporary folder; unattended, elevated, a
// folder of the product's beneath ProgramData that the run can trust, else the temporary folder.
int TryDefault(const LogRequest& request, int elevated, LogOpened* opened) {
    wchar_t folder[LOG_PATH_SIZE];
    wchar_t path[LOG_PATH_SIZE];
    Refusal refusal;
    if (elevated && !request.dialog && DefaultLogFolder(1, folder)) {
        // A folder of that name made by a standard user is passed over for the next name, which
        // the run makes itself with its own permissions (or made on an earlier run).
        for (int n = 0; n < 10; ++n) {
            wchar_t suffix[8] = L"";
            if (n > 0) {
                Append(suffix, 8, L".");
                AppendNumber(suffix, 8, static_cast<unsigned long>(n));
            }
            if (!Join(path, folder, L"\\", request.product, suffix) ||
                !Append(path, LOG_PATH_SIZE, L"\\") ||
                !Append(path, LOG_PATH_SIZE, request.program) ||
                !Append(path, LOG_PATH_SIZE, L".log"))
                break;
            if (TryPlace(path, elevated, 1, opened, &refusal)) return 1;
            NoteRefusal(opened, L"log not written in ", L"the default place", refusal);
            if (!refusal.untrusted) break;
        }
    }
    // The user's own temporary folder is the user's: its owner is no reason to pass it over.
    if (!DefaultLogFolder(0, folder) || !Join(path, folder, L"\\", request.program, L".log"))
        return 0;
    if (TryPlace(path, elevated, 0, opened, &refusal)) return 1;
    NoteRefusal(opened, L"log not written in ", L"the temporary folder", refusal);
    return 0;
}

}  // namespace

int OpenRunLog(const LogRequest& request, LogOpened* opened) {
    opened->file = nullptr;
    opened->path[0] = L'\0';
    opened->fresh = 0;
    opened->note[0] = L'\0';
    int elevated = LogElevated();
    if (request.asked && request.asked[0]) {
        wchar_t path[LOG_PATH_SIZE];
        Refusal refusal;
        Refuse(&refusal, L"does not fit a path", request.asked);
        if (ExpandLogPath(request.asked, path) && TryPlace(path, elevated, 1, opened, &refusal))
            return 1;
        NoteRefusal(opened, L"log asked for at ", request.asked, refusal);
    }
    return TryDefault(request, elevated, opened);
}
