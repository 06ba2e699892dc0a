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
            if column == "psd_flags":
                assert (value if isinstance(value, str) else "") == text
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
    # D = -2 / slope of the least-squares line through the points, refitted here.
    for fit, count in ((one, 10), (two, 8)):
        assert len(fit.ln_threshold) == len(fit.ln_count) == count
        slope = np.polyfit(fit.ln_threshold, fit.ln_count, 1)[0]
        assert fit.d == pytest.approx(-2.0 / slope, rel=1e-9)
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
    with pytest.raises(RuntimeError, match=r'^cannot read ".*missing.bmp": No such file or directory$'):
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


def test_flags_say_what_a_number_is_worth():
    y, x = np.mgrid[0:128, 0:128]
    bump = np.round(255 * np.exp(-((x - 64.0) ** 2 + (y - 64.0) ** 2) / 500)).astype(np.uint8)
    none = orvane.psd_dimension(bump)
    assert none.flags == ("no_fit",) and np.isnan(none.d) and "at least 3 are needed" in none.note
    noise = np.random.default_rng(5).normal(0, 1, (128, 128))
    assert orvane.psd_dimension(noise).flags == ("out_of_range",)


def test_double_precision_survives_offsets_and_scales(files):
    # Not whole numbers, so that no rounding floor applies.
    base = orvane.read_image(files[1]).astype(np.float64) / 7.0
    d = orvane.psd_dimension(base).d
    for changed in (base + 1e4, base + 1e5, base * 1e303, base * 1e-300, base * -3.0 + 1e6):
        assert orvane.psd_dimension(changed).d == pytest.approx(d, abs=1e-7)
    wide = orvane.read_image(files[1]).astype(np.int64)
    assert orvane.psd_dimension(wide + 2**40).d == pytest.approx(orvane.psd_dimension(wide).d, abs=1e-7)
    assert orvane.method1(base + 1e5).d == pytest.approx(orvane.method1(base).d, abs=1e-9)
    base[3, 4] = np.inf
    with pytest.raises(ValueError, match="row 4, column 5 is not a finite number"):
        orvane.psd_dimension(base)


def test_arguments_are_checked_before_any_work(files):
    image = orvane.read_image(files[1])
    with pytest.raises(TypeError, match="list of file names"):
        orvane.analyse_files(files[0])
    for bad in ((0.3, 0.1), (-0.1, 0.3), (0.1, 0.7), (float("nan"), 0.3)):
        with pytest.raises(ValueError, match="0 < q_min < q_max <= 0.5"):
            orvane.psd_dimension(image, fit_range=bad)
        with pytest.raises(ValueError, match="0 < q_min < q_max <= 0.5"):
            orvane.analyse_files(files[:1], psd_range=bad)
    with pytest.raises(TypeError, match="pair of numbers"):
        orvane.psd_dimension(image, fit_range=0.3)
    with pytest.raises(TypeError, match="complex"):
        orvane.psd_dimension(image.astype(np.complex128))
    with pytest.raises(TypeError, match="numbers"):
        orvane.method1(np.full((8, 8), "x"))
    # Pages count from 1, as file#page does.
    assert np.array_equal(orvane.read_image(files[1], page=1), image)
    with pytest.raises(IndexError, match="holds 1 page, not page 2"):
        orvane.read_image(files[1], page=2)
    for page in (0, -1):
        with pytest.raises(ValueError, match="the first page is 1"):
            orvane.read_image(files[1], page=page)


def stretched_surface(d, n, ratio, angle, seed):
    """A fractional-Brownian surface by spectral synthesis in numpy: spectrum
    (q' M q)^(-beta/2), features `ratio` times longer along `angle` (degrees,
    y up) than across, cut from a grid four times larger."""
    rng = np.random.default_rng(seed)
    g = 4 * n
    f = np.fft.fftfreq(g)
    fx, fy = np.meshgrid(f, f)
    t = np.radians(angle)
    along = fx * np.cos(t) - fy * np.sin(t)   # y down in the array
    across = fx * np.sin(t) + fy * np.cos(t)
    q2 = along ** 2 * ratio + across ** 2 / ratio
    q2[0, 0] = 1
    amplitude = q2 ** (-(8 - 2 * d) / 4)
    amplitude[0, 0] = 0
    field = np.fft.ifft2(amplitude * (rng.normal(size=(g, g)) + 1j * rng.normal(size=(g, g)))).real
    return field[:n, :n]


def test_the_whittle_estimate_finds_dimension_and_stretch(files):
    fit = orvane.whittle_dimension(stretched_surface(2.4, 128, 2.0, 60, 5))
    assert abs(fit.d - 2.4) < 0.06 and fit.d_low < fit.d < fit.d_high
    assert abs(fit.aniso_ratio / 2.0 - 1) < 0.1
    assert abs(fit.aniso_angle - 60) < 5
    assert fit.flags == ()
    # The frame's columns are orvane-batch's.
    run = subprocess.run([os.environ["ORVANE_BATCH"], "--whittle", files[1]], capture_output=True, text=True)
    row = next(csv.DictReader(io.StringIO(run.stdout)))
    frame = orvane.analyse_files([files[1]], psd=False, whittle=True)
    for column in orvane.WHITTLE_COLUMNS[:-1]:
        assert orvane.format_number(frame.iloc[0][column]) == row[column], column
    assert orvane.format_number(orvane.whittle_dimension(orvane.read_image(files[1])).d) == row["whittle_d"]
    with pytest.raises(ValueError, match="too small"):
        orvane.whittle_dimension(np.zeros((8, 40)))


def test_a_dimension_map_finds_each_halfs_dimension():
    picture = np.hstack([stretched_surface(2.2, 64, 1, 0, 7), stretched_surface(2.8, 64, 1, 0, 8)])
    d = orvane.dimension_map(picture, window=32, step=32)
    assert d.shape == (2, 4) and d.dtype == np.float64
    assert np.all(np.abs(d[:, 0] - 2.2) < 0.25) and np.all(np.abs(d[:, 3] - 2.8) < 0.25)
    with pytest.raises(ValueError, match="must be at least 16"):
        orvane.dimension_map(picture, window=8)


def test_surface_parameters_agree_with_numpy_and_the_batch_tool(files):
    rng = np.random.default_rng(11)
    z = rng.normal(size=(30, 40)) * 50 + np.arange(40) * 3.0 - np.arange(30)[:, None] * 2.0 + 1000
    # The plane by least squares in numpy, then the definitions.
    y, x = np.mgrid[0:30, 0:40]
    design = np.column_stack([x.ravel(), y.ravel(), np.ones(x.size)])
    r = (z.ravel() - design @ np.linalg.lstsq(design, z.ravel(), rcond=None)[0]).reshape(z.shape) * 1e-9
    p = orvane.surface_parameters(z, pixel_size=(2e-6, 1e-6), height_scale=1e-9)
    sq = np.sqrt(np.mean(r ** 2))
    assert p.sa == pytest.approx(np.mean(np.abs(r)), rel=1e-10)
    assert p.sq == pytest.approx(sq, rel=1e-10)
    assert p.ssk == pytest.approx(np.mean(r ** 3) / sq ** 3, rel=1e-8)
    assert p.sku == pytest.approx(np.mean(r ** 4) / sq ** 4, rel=1e-10)
    assert p.sz == pytest.approx(r.max() - r.min(), rel=1e-10)
    zx = (np.diff(r, axis=1)[:-1] + np.diff(r, axis=1)[1:]) / 2 / 2e-6
    zy = (np.diff(r, axis=0)[:, :-1] + np.diff(r, axis=0)[:, 1:]) / 2 / 1e-6
    assert p.sdq == pytest.approx(np.sqrt(np.mean(zx ** 2 + zy ** 2)), rel=1e-9)
    assert p.sdr == pytest.approx(100 * (np.mean(np.sqrt(1 + zx ** 2 + zy ** 2)) - 1), rel=1e-9)  # percent
    assert np.isnan(orvane.surface_parameters(z, pixel_size=1e-6).sdq)
    with pytest.raises(ValueError, match="pixel_size"):
        orvane.surface_parameters(z, pixel_size=-1.0)
    # The frame's columns are orvane-batch's, dx and dy last.
    run = subprocess.run([os.environ["ORVANE_BATCH"], "--params", "--pixel-size", "2um", "--height-scale", "3nm",
                          files[1]], capture_output=True, text=True)
    row = next(csv.DictReader(io.StringIO(run.stdout)))
    frame = orvane.analyse_files([files[1]], psd=False, params=True, pixel_size=2e-6, height_scale=3e-9)
    assert list(frame.columns) == list(row.keys()) + ["error"]
    for column in orvane.PARAMS_COLUMNS + orvane.PIXEL_COLUMNS:
        assert orvane.format_number(frame.iloc[0][column]) == row[column], column


def test_an_image_carries_its_pixel_size(files):
    image = orvane.read_image(files[1])
    assert isinstance(image, orvane.Image) and image.dx is None and image.dy is None
    sized = orvane.Image(image, 2e-6, 3e-6)
    assert (sized[1:3].dx, sized[1:3].dy) == (2e-6, 3e-6)  # kept through slicing
    by_size = orvane.surface_parameters(sized, height_scale=1e-9)
    assert by_size.sdq == orvane.surface_parameters(image, pixel_size=(2e-6, 3e-6), height_scale=1e-9).sdq
    # Points not measured are NaN: the spectral estimate flags them.
    holed = orvane.read_image(files[1]).astype(np.float64)
    holed[::17, ::13] = np.nan
    fit = orvane.psd_dimension(holed)
    assert "missing_points" in fit.flags and np.isfinite(fit.d)


def test_a_fit_range_in_wavelengths_is_the_same_fit_as_in_cycles(files):
    image = orvane.Image(orvane.read_image(files[1]), 2e-6, 8e-6)  # a pixel of 4 um on average
    by_cycles = orvane.psd_dimension(image, fit_range=(0.05, 0.25))
    assert orvane.psd_dimension(image, wavelengths=(16e-6, 80e-6)).d == by_cycles.d
    plain = np.asarray(image)
    assert orvane.psd_dimension(plain, wavelengths=(16e-6, 80e-6), pixel_size=(2e-6, 8e-6)).d == by_cycles.d
    with pytest.raises(ValueError, match="needs the pixel size"):
        orvane.psd_dimension(plain, wavelengths=(16e-6, 80e-6))
    with pytest.raises(ValueError):
        orvane.psd_dimension(image, wavelengths=(80e-6, 16e-6))
    # analyse_files as orvane-batch --psd-range 16um:80um, with the pixel size given.
    run = subprocess.run([os.environ["ORVANE_BATCH"], "--psd", "--psd-range", "16um:80um", "--pixel-size", "2um:8um",
                          files[1]], capture_output=True, text=True)
    row = list(csv.DictReader(io.StringIO(run.stdout)))[0]
    frame = orvane.analyse_files([files[1]], pixel_size=(2e-6, 8e-6), psd_wavelengths=(16e-6, 80e-6))
    assert orvane.format_number(frame.iloc[0]["psd_d"]) == row["psd_d"]
    assert orvane.format_number(frame.iloc[0]["psd_d"]) == orvane.format_number(by_cycles.d)


def test_names_pages_sizes_masks_and_threads_as_python_users_give_them(files, tmp_path):
    # A name that is not UTF-8, as bytes and as os.fsdecode gives it: read,
    # and in analyse_files its row is its own, beside a file that fails.
    name = os.path.join(os.fsencode(tmp_path), b"caf\xe9.bmp")
    with open(name, "wb") as out, open(files[0], "rb") as source:
        out.write(source.read())
    assert orvane.read_image(name).shape == orvane.read_image(files[0]).shape
    frame = orvane.analyse_files([name, os.fsdecode(name), files[3]], psd=False)
    assert list(frame["file"][:2]) == [os.fsdecode(name)] * 2
    assert frame["error"][:2].isna().all() and frame["error"][2].startswith("cannot read")
    # The documented errors, not a cast's.
    with pytest.raises(IndexError, match="not page"):
        orvane.read_image(files[0], page=2 ** 40)
    with pytest.raises(TypeError, match="pixel_size"):
        orvane.surface_parameters(np.zeros((4, 4)), pixel_size="ab")
    with pytest.raises(TypeError, match="height_scale"):
        orvane.surface_parameters(np.zeros((4, 4)), height_scale="2nm")
    # A view of 12000 x 12000 is refused for its size before it is copied.
    with pytest.raises(ValueError, match="larger than can be analysed"):
        orvane.psd_dimension(np.broadcast_to(np.float64(1), (12000, 12000)))
    # Masked points are points not measured.
    image = orvane.read_image(files[1]).astype(np.float64)
    mask = np.zeros(image.shape, bool)
    mask[10:14, 20:30] = True
    holes = image.copy()
    holes[mask] = np.nan
    masked = orvane.psd_dimension(np.ma.masked_array(orvane.read_image(files[1]), mask))
    assert masked.d == orvane.psd_dimension(holes).d and "missing_points" in masked.flags
    # analyse_files gives the user's thread setting back.
    orvane.set_transform_threads(1)
    orvane.analyse_files(files[:2], psd=False)
    assert orvane._orvane.transform_threads() == 1
    orvane.set_transform_threads(0)


def test_a_spectrum_carries_its_frequencies_per_metre(files):
    image = orvane.read_image(files[1])
    plain = orvane.psd_dimension(image)
    assert plain.q_per_m is None and plain.pixel_size_m is None
    sized = orvane.psd_dimension(image, pixel_size=(2e-6, 8e-6))
    assert sized.pixel_size_m == pytest.approx(4e-6)
    assert sized.q_per_m == pytest.approx(np.exp(sized.ln_q) / 4e-6)
    assert sized.fit_range_per_m == pytest.approx((sized.fit_range[0] / 4e-6, sized.fit_range[1] / 4e-6))
