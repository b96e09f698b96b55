#pragma once

// Resources linked into the executable; the resource script includes this file as well.
#define IDI_TRANSMITTER_CONFIGURATOR 1
