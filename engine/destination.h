// Where a job's file goes, settled before the drive is touched: a read of a
// fragile disk may not come back a second time, so a destination that
// cannot take the file must be known before the read, not after it.
#pragma once

#include <string>

enum destination_verdict {
    DESTINATION_OK,             // absent, in a folder that takes new files
    DESTINATION_TAKEN,          // a regular file of that name exists
    DESTINATION_NO_FOLDER,      // the folder does not exist
    DESTINATION_FOLDER_REFUSES, // the folder does not take new files (read-only, no permission)
    DESTINATION_NOT_A_FILE,     // a folder, FIFO or device stands there
};

// Checks path before a job writes it: the folder exists and takes a new
// file (tried for real, so a read-only mount counts too), and the name is
// free or a regular file.  A taken name is reported, not judged: whether
// it may be replaced is the caller's question.
destination_verdict destination_check(const char *path);

// The folder half of destination_check, for a job whose file name is made
// only once the disk is read: DESTINATION_OK, _NO_FOLDER or _FOLDER_REFUSES.
destination_verdict destination_check_folder(const char *folder);

// The English text of a verdict ("no such folder", ...); "" for
// DESTINATION_OK.
const char *destination_text(destination_verdict verdict);

// A name beside `path` that no file has yet, with a numbered suffix before
// the extension: "NAME-1.d64", "NAME-2.d64", ...  Companions named by
// adding to the name (NAME.d64.log, NAME.d64.md5) are free as well.
std::string destination_free_name(const std::string &path);
