// Free functions shared by the operations of the main window: the log time stamp, listing
// the packs of a folder, secure deletion of working files, starting a program, cutting words
// out of a line, text replacement, a reversible decimal encoding of text, and turning the
// archive tool's extraction listing into paths. 8-bit text throughout.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

// The computer's network name; empty text on failure.
std::string GetComputerNetName();

// Short (8.3) form of an existing file's path; the path unchanged when the system gives
// none; empty text when the file does not exist.
std::string ShortFileName(const std::string& path);
// True for a driver pack's file name: one that ends in ".7z" or ".7Z".
bool EndsWith7z(const std::string& name);

// True when an item of the list equals the text exactly (letter case counts).
bool ListContained(const std::string& text, const std::vector<std::string>& list);

// "[dd.mm.yyyy hh.nn.ss] " for the current local time when `flag` is 1, remembering the
// date-time part as the last stamp; empty text for any other flag.
std::string LogzTimeAndDate(std::uint8_t flag);
// The stamp of LogzTimeAndDate for a given time: "[03.02.2026 09.05.07] ".
std::string FormatTimeStamp(const std::tm& time);
// The date-time part of the last stamp made ("03.02.2026 09.05.07"), empty before the first.
std::string LastTimeStamp();
// Forgets the last stamp (at program end).
void ClearLastTimeStamp();

// Appends to `list` the names of the entries matching folder + "*.7z" (letter case ignored),
// in the order the system returns them; plain folders are left out. The list is not cleared.
void ListFileDir(const std::string& folder, std::vector<std::string>& list);

// Fills the block with pseudo-random bytes, each uniform in 0..255.
void RandomizeBuffer(std::span<std::uint8_t> block);
// Overwrites the file three times with pseudo-random bytes, flushing each pass to the disk,
// then deletes it. Throws platform::FileError, leaving the file in place, when it cannot be
// opened exclusively (another program holds it open or locked, it is missing, it is no
// regular file); write, flush and delete errors reach the caller the same way.
void WipeFile(const std::string& path);
// WipeFile for a file that must never be found half-wiped under its name (the INF index and the
// extraction list): the file first leaves its name for "<name>.wipe" beside it, with one rename,
// and is wiped there, so a program stopped at any moment leaves the whole old file or none.
// Where it cannot be renamed it is wiped in place; when the wiping fails it gets its name back.
void WipeFileAside(const std::string& path);

// Starts a command line as a new process, waiting for its end when `wait` is set; then
// `exitCode`, when given, receives the child's exit code. False when it cannot be started.
// (Defined with the process runner.)
bool WinExecute(const std::string& commandLine, bool wait, int* exitCode = nullptr);

// The n-th word (from 1) of the text, words separated by the delimiter; empty text for
// n = 0 and for n beyond the last word.
std::string GetWord(const std::string& text, const std::string& delimiter, int n);

// Replaces `oldText` by `newText` until no occurrence is left, so a replacement that forms a
// new occurrence with the text around it is replaced again. When `newText` holds `oldText`
// (which would never end), each occurrence is replaced once instead. An empty `oldText`
// changes nothing. Throws std::length_error when the replacements keep growing the text
// without end (more than 64 times its length).
std::string StrReplace(const std::string& text, const std::string& oldText, const std::string& newText);

// The text percent-encoded for a web address: letters, digits and "-._~" stay as they are,
// every other byte becomes "%" and two upper-case hex digits ("A&B C" -> "A%26B%20C").
std::string PercentEncode(const std::string& text);

// True when `path` lies in `folder`, at any depth: it starts with the folder, followed by a
// separator of either kind (a separator at the folder's end counts). ASCII letter case is
// ignored when `ignoreCase` is set. An empty folder holds nothing.
bool IsInFolder(const std::string& path, const std::string& folder, bool ignoreCase);

// "abc" -> "#97#98#99".
std::string StrToAscii(const std::string& text);
// The reverse: each group ending at '#' or at the end is a decimal character code (low 8 bits
// used); empty groups and groups that are no number are skipped.
std::string ASCIIToStr(const std::string& text);

// Appends to `dest` every line of `source` that starts with "Extracting", without its first
// 11 characters. Nothing happens when `source` is null.
void MakePaths(const std::vector<std::string>* source, std::vector<std::string>& dest);
