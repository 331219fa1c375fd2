#pragma once
// Linked into a program, GuardedArrays.cpp puts every new[] array made while a GuardedArrays
// object lives right before an inaccessible page; other arrays come from the heap as usual.

class GuardedArrays {
public:
    GuardedArrays();
    ~GuardedArrays();
    GuardedArrays(const GuardedArrays&) = delete;
    GuardedArrays& operator=(const GuardedArrays&) = delete;

    // How many arrays were put before a guard page so far.
    static unsigned long count();
};
