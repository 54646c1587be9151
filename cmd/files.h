// How kaleocmd touches the file system: folders made without a shell, outputs
// written under a temporary name and renamed into place only when complete,
// the standard streams buffered for formats that seek, and paths compared as
// the file system sees them.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Creates a folder and its parents; false with the system's reason.
bool makeFolders(const std::string& folder, std::string* reason);

// The system's text for an errno value ("No space left on device").
std::string systemReason(int err);

// Interrupts and terminations remove the temporaries being written before the
// process ends; an exceeded file-size limit becomes a write error instead of
// a signal. Call once at start.
void installSignalHandlers();

// Creates an empty, private temporary file in folder (".kaleocmd-XXXXXX"),
// remembered so that an interrupt removes it.
bool createTemporary(const std::string& folder, std::string* path, std::string* reason);
// Forgets a temporary (after it was renamed) and removes it unless kept.
void releaseTemporary(const std::string& path, bool remove);

enum CommitResult { COMMIT_DONE, COMMIT_EXISTS, COMMIT_FAILED };
// Moves a complete temporary onto its output name. Without replace, an
// existing name (a dangling symbolic link too) is left alone: COMMIT_EXISTS.
// With replace, the name itself is replaced, never a link's target. The file
// gets the permissions that the umask gives new files; with sync it is
// flushed to the disk first.
CommitResult commitOutput(const std::string& temp, const std::string& output, bool replace, bool sync,
                          std::string* reason);

// Copies a file to standard output.
bool copyToStdout(const std::string& path, std::string* reason);
// Standard input read to its end into an anonymous temporary file (seekable).
FILE* bufferStdin(int64_t* size, std::string* reason);

// Reads a list of names, one per line (CR before LF dropped, empty lines
// skipped) or separated by NUL bytes; "-" is standard input.
bool readNameList(const std::string& file, bool nul, std::vector<std::string>* names, std::string* reason);

// True when the name exists as anything, a dangling symbolic link included.
bool pathExists(const std::string& path);
bool isFolder(const std::string& path);
// The path with its folder resolved ("a/../b/x" and "b/./x" give one string).
std::string canonicalPath(const std::string& path);
// Two names of one file (same device and inode, or the same canonical path).
bool sameFile(const std::string& a, const std::string& b);
// Modification time in nanoseconds, -1 when the file cannot be examined.
int64_t modifiedNs(const std::string& path);
