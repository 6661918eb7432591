// An output file replaced as a whole: the final name is opened (created if absent, never
// emptied) and locked as the dialogue locks it, the new content is written to a temporary
// file beside it, and only a run that succeeds syncs the temporary file and renames it
// over the final name. A run that fails leaves a file that was there untouched, removes a
// final name it created only to lock it, and leaves no temporary file behind.
#pragma once
#include <string>

namespace engine {

struct replaced_file {
    std::string final_path;
    std::string temp_path;
    int lock_fd = -1;
    bool created = false;  // the final name did not exist before this run
    // A final name that is no regular file (a device such as /dev/null, a FIFO) is written
    // in place: a rename would put a regular file where the device was.
    bool in_place = false;
};

// Opens and locks the final name. A symbolic link there is opened, and its target locked,
// but the rename replaces the link itself, as mv does. Throws textio::io_failure: OPEN
// refused by the system, in_use when another run holds the lock, dangling_link for a link
// to a missing file (nothing is created through it).
replaced_file lock_final_name(const std::string& final_path, int unit);

// Makes the temporary file beside the final name and returns its path; the file is empty.
// For a file written in place, returns the final name itself.
// Throws textio::io_failure when the directory refuses it.
const std::string& make_temp_file(replaced_file& file, int unit);

// Writes the temporary file's data to the disk (fsync), so that a crash after the rename
// never leaves an empty file under the final name: 0, or the error number. Nothing to do
// for a file written in place.
int sync_temp_file(const replaced_file& file);

// Renames the temporary file over the final name; false (errno set) when the system
// refuses. The lock is released either way. Once renamed, the file is the run's result:
// abandon_file no longer touches it.
bool commit_file(replaced_file& file);

// Syncs the directory that holds the final name, so that the rename itself is on the disk:
// 0, or the error number.
int sync_final_directory(const replaced_file& file);

// Removes the temporary file, and the final name when this run created it; releases the
// lock. Never raises.
void abandon_file(replaced_file& file);

}  // namespace engine
