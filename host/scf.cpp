#include "scf.h"

iSCF* iSCF::SCF = nullptr;
