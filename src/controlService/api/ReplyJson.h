#pragma once
// Reading the vendor API's JSON replies into a wide tree.

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <string>

// Deeper nesting than any reply of the API needs.
constexpr std::size_t MaxReplyNesting = 100;

// Reads `text` as JSON into `tree`. Throws boost::property_tree::json_parser_error for a syntax
// error, and also, before the parser has seen any of it, for a text whose arrays and objects nest
// deeper than MaxReplyNesting: the parser descends once per level, so a reply of nothing but
// opening brackets would use up the thread's stack.
void readReplyJson(const std::wstring& text, boost::property_tree::wptree& tree);
