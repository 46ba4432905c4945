// The two values the PC's Windows CE Services reads, written on every run before anything
// else: conversion of synchronised files off for every partner, and guest connections only.
#pragma once

#include <windows.h>

namespace setup {

inline constexpr wchar_t kFiltersKey[] =
    L"Software\\Microsoft\\Windows CE Services\\Partners\\ffffffff\\Filters";
inline constexpr wchar_t kEnableConversion[] = L"EnableConversion";
inline constexpr wchar_t kServicesKey[] = L"SOFTWARE\\Microsoft\\Windows CE Services";
inline constexpr wchar_t kGuestOnly[] = L"GuestOnly";

// Creates the key (and any missing key above it) or opens it, and writes the value over any
// old one. True when the key could be created or opened, whether or not the write then took.
bool SetRegistryDword(const wchar_t* keyPath, const wchar_t* valueName, DWORD value, HKEY root);

// Both values, each tried whatever became of the other; nothing is reported.
void WriteSyncSettings();

}  // namespace setup
