"""CPU implementation package; the extension module lives at ombrix.cpu.pybind."""
