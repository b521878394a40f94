#include "host/scf.h"

iSCF* iSCF::SCF = nullptr;
