// Records that belong to the desktop rather than to one process: the shell's tray
// icons, the popup menus shown, the documents and programs the shell was asked to
// open, the cursor, and popup-menu choices a test queued for any process. They live in
// files under <runtime folder>/desktop, one line per record with tab-separated fields,
// so that a test drives and reads a program running as a process of its own.
#pragma once

#include <string>
#include <vector>

namespace platform {
namespace desktop {

// Appends one record (fields escaped, tab-separated) to the named journal.
void append(const char* journal, const std::vector<std::string>& fields);
// Every record of the named journal, oldest first, fields unescaped.
std::vector<std::vector<std::string>> read(const char* journal);
// Takes the oldest record of the named journal away; false when it is empty.
bool take(const char* journal, std::vector<std::string>* fields);
// Replaces the named journal's content by one record.
void replace(const char* journal, const std::vector<std::string>& fields);

}  // namespace desktop
}  // namespace platform
