#pragma once
// Fields of a form-encoded request body, taken as they stand.

#include <string>

// The value of the first field called `name`: from after "name=" up to the next "&" or the end.
// A match counts only where no ASCII letter or digit stands before it, so "surname=" is not "name=".
// Nothing is percent-decoded and "+" stays "+". A missing field gives an empty text when
// `emptyIfMissing`, else raises std::runtime_error "no such parameter".
std::string getParam(const std::string& body, const std::string& name, bool emptyIfMissing);
