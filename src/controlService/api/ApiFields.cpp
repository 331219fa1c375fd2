#include "ApiFields.h"

#include "ApiWire.h"

#include "StringHelpers.h"
#include "SystemInfo.h"

std::wstring brandValue()
{
    return urlEscape(ApiWire::Brand);
}

FormBody& addOsFields(FormBody& body)
{
    return body.add(ApiWire::OsBitnessField, getBitness())
        .add(ApiWire::OsVersionField, getOsVersion())
        .add(ApiWire::OsSpVersionField, getServicePackVersion())
        .add(ApiWire::OsLocaleField, getLocaleName());
}
