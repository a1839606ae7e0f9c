// Start-up: the option scan and the order of the two main loops.
#pragma once

// Run the control script without any window ("-s" or "-S").
extern int m_bsilent;
// The licence counts as accepted: the progress window may open.
extern int m_beula;

// The whole run of the program for its command line; returns the exit status.
int startup(int argc, char** argv);
