// Reading and writing the directory as LDIF text (a small subset of it).
#pragma once

#include "config/InOutError.h"
#include "directory/UserList.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class TLDIFFile {
public:
    // Not owned; the caller sets it right after creation.
    TUserList* Users = nullptr;

    // Merges every record of the file into Users. Raises EInOutError; the
    // records stored before the failure stay.
    void ReadFromFile(const std::string& path);
    // Stores one record and empties buffer (nothing for an empty buffer).
    void AddRecord(std::vector<std::string>& buffer);
    // Replaces the file's content by every entry of Users (none when Users is
    // null). Raises EInOutError.
    void WriteToFile(const std::string& path) const;
};

// Splits the file into records and hands each one, in order, to onRecord
// (which may empty the buffer). Raises EInOutError after handing over the
// records completed before the failure.
void ReadLDIFRecords(const std::string& path,
                     const std::function<void(std::vector<std::string>&)>& onRecord);

// File > Import on the process-wide directory (created when absent). The file
// is read before the directory is locked; the merge then runs under the write
// lock, so a search sees none or all of it. On a read failure the records
// read before it are merged, then the error is raised.
void ImportLDIF(const std::string& path);
// File > Export of the process-wide directory; an absent one gives an empty file.
void ExportLDIF(const std::string& path);
