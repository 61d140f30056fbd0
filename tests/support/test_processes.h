#pragma once

#include <initializer_list>

class QProcess;

// A program the test starts goes with the test, also when the test dies outright.
void endWithTheTest(QProcess& process);

// Ends the programs in this order, each asked first and then made to.
void endAll(std::initializer_list<QProcess*> processes);
