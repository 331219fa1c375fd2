#pragma once
// Form values that several request bodies share.

#include "FormBody.h"

#include <string>

// The product name, escaped for a form.
std::wstring brandValue();

// "osBitness", "osVersion", "osSpVersion" and "osLocale", in that order.
FormBody& addOsFields(FormBody& body);
