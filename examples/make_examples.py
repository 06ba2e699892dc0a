#!/usr/bin/python3
"""Writes the sample surfaces in this folder: fractional-Brownian surfaces of
known fractal dimension D, 256 x 256 pixels, as 16-bit PGM files.

Each surface is made by spectral synthesis: white Gaussian noise whose
Fourier amplitudes are shaped to |q|^-(beta / 2), with beta = 8 - 2 D (so its
power spectrum falls as q^-beta), transformed back, and scaled onto 0..65535.
The random numbers come from a fixed seed, so the files are the same on every
run:  python3 examples/make_examples.py
"""
import os

import numpy as np

SIZE = 256
DIMENSIONS = (2.2, 2.5, 2.8)


def surface(dimension, seed):
    rng = np.random.default_rng(seed)
    beta = 8.0 - 2.0 * dimension
    qy = np.fft.fftfreq(SIZE)[:, None]
    qx = np.fft.fftfreq(SIZE)[None, :]
    q = np.hypot(qx, qy)
    q[0, 0] = 1.0
    amplitude = q ** (-beta / 2.0)
    amplitude[0, 0] = 0.0
    noise = np.fft.fft2(rng.standard_normal((SIZE, SIZE)))
    heights = np.fft.ifft2(noise * amplitude).real
    heights -= heights.min()
    return np.round(heights * (65535.0 / heights.max())).astype(">u2")


def write_pgm(path, pixels):
    height, width = pixels.shape
    with open(path, "wb") as out:
        out.write(f"P5\n{width} {height}\n65535\n".encode("ascii"))
        out.write(pixels.tobytes())


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    for seed, dimension in enumerate(DIMENSIONS, start=1):
        write_pgm(os.path.join(folder, f"fbm-d{dimension}.pgm"), surface(dimension, seed))


if __name__ == "__main__":
    main()
