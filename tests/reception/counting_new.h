#pragma once
// Every allocation of the test program, counted while `g_counting` is on
// (counting_new.cpp replaces operator new).

extern thread_local bool g_counting;
extern thread_local long g_allocations;
