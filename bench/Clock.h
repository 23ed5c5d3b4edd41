#pragma once
// The benchmark's clocks: wall time, this process's CPU and its wineserver's, over a span.
#include <cstdio>

// The pid of the wineserver to read as well (0: not known); run.sh passes it.
extern int wineserverPid;

struct Clock {
    double wall;
    double process;  // all threads, the test server's included
    double thread;   // the calling thread alone
    double wineserver;
};

Clock now();

struct Span {
    Clock start, end;
    double wall() const { return end.wall - start.wall; }
    double cpu() const { return end.process - start.process + end.wineserver - start.wineserver; }
    double share() const { return 100 * cpu() / wall(); }  // percent of one core
};

void printSpan(const char* name, const Span& s);
