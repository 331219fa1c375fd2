#pragma once
// The files that a connect reply carries Base64-encoded: decoding them and writing them to disk.

#include <boost/property_tree/ptree.hpp>

#include <string>

// Standard Base64 (RFC 4648): the trailing padding cut (with white space after it), white space
// skipped, a final incomplete byte dropped. False for a character outside the alphabet ("=" before
// the end included) or a text of nothing but padding.
bool decodeBase64(const std::wstring& text, std::string& decoded);

// Decodes the text and writes it in text mode (each LF stored as CR LF), creating or truncating the file.
bool writeTextFile(const std::wstring& text, const std::wstring& path);

// Writes the reply member `key` to folder + fileName; false, and the file left as it is, when the
// member is empty or null. A missing member raises the tree's missing-path error.
bool saveResponseFile(const boost::property_tree::wptree& reply, const std::wstring& folder, const std::wstring& key,
                      const std::wstring& fileName);
