#pragma once

#include <typeinfo>

namespace tavik {

// The C++ spelling of a type, for the texts of out-of-memory failures.
template <typename T> inline const char* typeName() { return typeid(T).name(); }
template <> inline const char* typeName<char>() { return "char"; }
template <> inline const char* typeName<wchar_t>() { return "wchar_t"; }
template <> inline const char* typeName<int>() { return "int"; }
template <> inline const char* typeName<unsigned>() { return "unsigned int"; }
template <> inline const char* typeName<long>() { return "long"; }
template <> inline const char* typeName<unsigned long>() { return "unsigned long"; }
template <> inline const char* typeName<long long>() { return "long long"; }
template <> inline const char* typeName<unsigned long long>() { return "unsigned long long"; }
template <> inline const char* typeName<double>() { return "double"; }

}  // namespace tavik
