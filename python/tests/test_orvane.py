"""The orvane package against orvane-batch, numpy's FFT and a real Dask cluster."""
import csv
import io
import os
import struct
import subprocess

import numpy as np
import pandas
import pytest

import orvane


def write_bmp(path, pixels):
    """An 8-bit grey BMP of a uint8 array."""
    h, w = pixels.shape
    row = (w + 3) // 4 * 4
    data = b"".join(bytes(pixels[y]) + b"\0" * (row - w) for y in range(h - 1, -1, -1))
    palette = b"".join(bytes([i, i, i, 0]) for i in range(256))
    offset = 14 + 40 + 1024
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(data), 0, 0, 0, 0)
    path.write_bytes(header + info + palette + data)
    return str(path)


def write_pgm16(path, pixels):
    h, w = pixels.shape
    path.write_bytes(f"P5\n{w} {h}\n65535\n".encode() + pixels.astype(">u2").tobytes())
    return str(path)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("pictures")
    rng = np.random.default_rng(3)
    y, x = np.mgrid[0:90, 0:120]
    smooth = (np.sin(x / 7.0) * np.cos(y / 11.0) * 20000 + 30000 + rng.normal(0, 900, x.shape)).clip(0, 65535)
    return [
        write_bmp(folder / "a.bmp", ((x * x + 7 * y) % 256).astype(np.uint8)),
        write_pgm16(folder / "deep.pgm", smooth.astype(np.uint16)),
        write_bmp(folder / "small.bmp", (rng.integers(0, 256, (20, 30))).astype(np.uint8)),
        str(folder / "missing.bmp"),
    ]


def batch_csv(files):
    run = subprocess.run([os.environ["ORVANE_BATCH"], "--psd", *files], capture_output=True, text=True)
    return list(csv.DictReader(io.StringIO(run.stdout)))


def test_every_number_prints_as_the_batch_tool_writes_it(files):
    rows = batch_csv(files)
    frame = orvane.analyse_files(files)
    assert list(frame["file"]) == files
    assert list(frame.columns) == list(rows[0].keys()) + ["error"]
    for row in rows:
        ours = frame[frame["file"] == row["file"]].iloc[0]
        for column, text in row.items():
            value = ours[column]
            if column == "file":
                continue
            if text == "":
                assert value is pandas.NA or np.isnan(value)
            elif column in ("width", "height", "padded_width", "padded_height", "psd_bins"):
                assert str(value) == text
            else:
                assert orvane.format_number(value) == text, column
    assert "too small" in frame.iloc[2]["error"]
    assert "No such file or directory" in frame.iloc[3]["error"]


def test_images_methods_and_the_spectral_estimate(files):
    image = orvane.read_image(files[0])
    assert image.dtype == np.uint8 and image.shape == (90, 120)
    deep = orvane.read_image(files[1])
    assert deep.dtype == np.uint16 and deep.max() > 255
    rows = {r["file"]: r for r in batch_csv(files[:2])}
    one, two = orvane.method1(image), orvane.method2(image)
    assert orvane.format_number(one.d) == rows[files[0]]["d1"]
    assert orvane.format_number(two.d) == rows[files[0]]["d2"]
    assert one.d == -2.0 / one.slope and len(one.ln_threshold) == 10 and len(two.ln_count) == 8
    psd = orvane.psd_dimension(deep)
    assert orvane.format_number(psd.d) == rows[files[1]]["psd_d"]
    assert psd.d_low < psd.d < psd.d_high
    assert len(psd.ln_q) == len(psd.ln_psd) == len(psd.count) and psd.fitted.sum() == psd.bins_fitted
    line = psd.intercept - psd.beta * psd.ln_q[psd.fitted]
    assert np.abs(line - psd.ln_psd[psd.fitted]).mean() < 0.3

    # The window's spectrum: the inverse-sign transform scaled by 1 / (rows * cols), centred.
    padded = np.zeros((128, 128))
    padded[:90, :120] = image
    assert np.allclose(orvane.spectrum(image), np.fft.fftshift(np.fft.ifft2(padded)), rtol=0, atol=1e-12)


def test_errors_say_what_is_wrong(files):
    with pytest.raises(RuntimeError, match="No such file or directory"):
        orvane.read_image(files[3])
    with pytest.raises(ValueError, match="flat once its plane is removed"):
        orvane.psd_dimension(np.full((64, 64), 7, np.uint8))
    with pytest.raises(ValueError, match="2-D"):
        orvane.method1(np.zeros(5))


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_a_dask_cluster_gives_the_same_frame(files):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            on_cluster = orvane.analyse_files(files, client=client)
    local = orvane.analyse_files(files)
    assert on_cluster.equals(local)
