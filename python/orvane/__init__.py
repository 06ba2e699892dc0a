"""Orvane: the fractal dimension of grey-level images from their Fourier power spectrum.

The functions run the same C++ code as the Orvane window and ``orvane-batch``,
so every number equals the program's to the last digit (``format_number``
prints it as the program does).  The C++ work releases the GIL.

Images are 2-D numpy arrays of real numbers, of any integer or floating-point
type, kept at their own type (float16 as float32, booleans as uint8, 64-bit
integers as float64); the spectral estimate reads each value in double
precision.
``method1``, ``method2`` and ``spectrum`` see an image as the window does:
8-bit as it is, anything else with its own smallest and largest value mapped
to 0 and 255.  ``psd_dimension`` sees the full precision.

Pages of a TIFF stack count from 1, as in the ``file#page`` names of
``analyse_files`` and ``orvane-batch``.
"""

from concurrent.futures import ThreadPoolExecutor

import numpy

from . import _orvane
from ._orvane import __version__, available_cores, format_number, set_transform_threads

__all__ = [
    "read_image",
    "spectrum",
    "method1",
    "method2",
    "psd_dimension",
    "whittle_dimension",
    "dimension_map",
    "surface_parameters",
    "analyse_files",
    "format_number",
    "set_transform_threads",
    "MethodResult",
    "PsdResult",
    "WhittleResult",
    "SurfaceParameters",
    "Image",
]

COLUMNS = ["file", "width", "height", "padded_width", "padded_height", "d1", "d2"]
WHITTLE_COLUMNS = ["whittle_d", "whittle_d_low", "whittle_d_high", "aniso_ratio", "aniso_angle", "whittle_flags"]
PARAMS_COLUMNS = ["sa", "sq", "ssk", "sku", "sz", "sdq", "sdr"]
PIXEL_COLUMNS = ["dx", "dy", "missing"]
PSD_COLUMNS = ["psd_d", "psd_d_low", "psd_d_high", "psd_beta", "psd_r2", "psd_bins", "psd_flags", "psd_q_min", "psd_q_max"]


class MethodResult:
    """A Metoda 1 or Metoda 2 estimate: ``d`` = -2 / ``slope`` of the least-squares
    line through the fit points (``ln_threshold``, ``ln_count``); ``failed`` when
    the estimate failed (the window's "PALANT!!!"), ``d`` then being NaN."""

    def __init__(self, fields):
        self.d = fields["d"]
        self.slope = fields["slope"]
        self.ln_threshold = fields["ln_threshold"]
        self.ln_count = fields["ln_count"]
        self.failed = fields["failed"]

    def __repr__(self):
        return f"MethodResult(d={format_number(self.d)}, slope={format_number(self.slope)})"


class _Fields:
    """A result's fields as attributes (the C++ record's dict, less its
    flags as one text, which the CSV uses)."""

    def __init__(self, fields):
        fields = dict(fields)
        fields.pop("flags_text", None)
        self.__dict__.update(fields)


class PsdResult(_Fields):
    """The spectral estimate: PSD ~ q**-beta over the fit range (cycles per pixel),
    hurst = (beta - 2) / 2, d = (8 - beta) / 2 with its 95 % interval
    (d_low, d_high), the slope's standard error, the fitted line's intercept
    (ln PSD = intercept - beta ln q), the weighted fit's r2, ``fit_range``
    (q_min, q_max: the frequencies of the first and last bins fitted), and the binned
    spectrum: ln_q, ln_psd, count (frequencies in each bin) and fitted
    (inside the fit range).  ``flags`` is a tuple of what the estimate knows
    about itself (out_of_range, curved, noise_floor, few_levels, clipped,
    few_bins; empty when nothing): the number stands, with that said.  With
    ``no_fit`` alone there was nothing to fit: every number is NaN and
    ``note`` says why.  When the pixel's size is known (an Image's own, or
    ``pixel_size``), ``pixel_size_m`` is it (the geometric mean of its sides)
    and ``q_per_m`` the bins' mean frequencies in cycles per metre
    (exp(ln_q) / pixel_size_m), ``fit_range_per_m`` the fit range so; None
    otherwise."""

    def __repr__(self):
        return (f"PsdResult(d={format_number(self.d)}, interval=({format_number(self.d_low)}, "
                f"{format_number(self.d_high)}), beta={format_number(self.beta)}, bins_fitted={self.bins_fitted}"
                + (f", flags={self.flags}" if self.flags else "") + ")")


def _path(path):
    import os
    try:
        path = os.fspath(path)
    except TypeError:
        raise TypeError(f"a file name must be a str, bytes or os.PathLike, not {type(path).__name__}") from None
    # The system's bytes of the name, so that a name that is not UTF-8 is read.
    return os.fsencode(path)


def _page(page):
    import numbers
    if page is None:
        return None
    if isinstance(page, bool) or not isinstance(page, numbers.Integral):
        raise TypeError(f"page must be a whole number (the first page is 1), not {type(page).__name__}")
    if page < 1:
        raise ValueError(f"page must be 1 or more (the first page is 1), not {page}")
    return min(int(page), 2 ** 62)  # beyond any file's last page, which says so with IndexError


def _image(image):
    """An array for the estimators: a numpy.ma masked array's masked points
    as points not measured (NaN), in float64 when the array is of integers."""
    if isinstance(image, numpy.ma.MaskedArray):
        mask = numpy.ma.getmaskarray(image)
        if mask.any():
            kind = image.dtype if image.dtype.kind == "f" else numpy.float64
            return numpy.ma.filled(image.astype(kind), numpy.nan)
        return numpy.ma.getdata(image)
    return image


def _pixel_size(size):
    """None, one positive length in metres, or two (dx, dy); TypeError for
    anything else."""
    import numbers
    if size is None:
        return None
    def length(v):
        if isinstance(v, bool) or not isinstance(v, numbers.Real):
            raise TypeError(f"pixel_size must be a length in metres or two (dx, dy), not {type(v).__name__}")
        return float(v)
    if isinstance(size, (str, bytes)):
        raise TypeError(f"pixel_size must be a length in metres or two (dx, dy), not {type(size).__name__}")
    if hasattr(size, "__len__"):
        return tuple(length(v) for v in size)
    return length(size)


def _height_scale(scale):
    import numbers
    if scale is None:
        return None
    if isinstance(scale, bool) or not isinstance(scale, numbers.Real):
        raise TypeError(f"height_scale must be a length in metres, not {type(scale).__name__}")
    return float(scale)


class Image(numpy.ndarray):
    """The samples of a picture file as a numpy array, with the file's pixel
    size: ``dx`` and ``dy`` in metres (None when the file gives none; a
    TIFF's resolution in pixels per inch or centimetre gives it).  The
    estimators take it as any array; surface_parameters reads its size."""

    def __new__(cls, array, dx=None, dy=None):
        image = numpy.asarray(array).view(cls)
        image.dx, image.dy = dx, dy
        return image

    def __array_finalize__(self, source):
        self.dx = getattr(source, "dx", None)
        self.dy = getattr(source, "dy", None)


def read_image(path, page=None):
    """The picture in a BMP, PNG, TIFF, PGM or PPM file at its own depth, as it
    is shown (a TIFF's Orientation tag applied): a 2-D array (rows, columns)
    of the type the file holds its samples in: uint8 or uint16, and for TIFF
    also int8, int16, int32, uint32, float32 or float64; points not measured
    are NaN.  A TIFF stack gives a 3-D array (page, rows, columns), or with
    ``page`` (from 1, as file#page) one page.  The array is an Image, which
    carries the pixel's size (of the first page of a stack).  A file that
    cannot be read raises RuntimeError with the programs' message; a page
    past the last raises IndexError."""
    array, dx, dy = _orvane.read_image(_path(path), _page(page))
    return Image(array, dx if dx > 0 else None, dy if dy > 0 else None)


def spectrum(image):
    """The centred complex spectrum the window computes (PoliczFFT): the image's
    8-bit view padded to powers of two, transformed and scaled by 1 / (rows * cols),
    the zero frequency at (rows / 2, cols / 2); complex128."""
    return _orvane.spectrum(_image(image))


def method1(image):
    """Metoda 1: ten thresholds evenly spaced on a log scale.  Returns a MethodResult."""
    return MethodResult(_orvane.method1(_image(image)))


def method2(image):
    """Metoda 2: eight thresholds 0.1 M .. 0.8 M.  Returns a MethodResult."""
    return MethodResult(_orvane.method2(_image(image)))


def psd_dimension(image, window="hann", fit_range=None, wavelengths=None, pixel_size=None):
    """The calibrated dimension from the radially averaged power spectrum of the
    image at its full depth.  ``window``: "hann" or "none"; ``fit_range``:
    (q_min, q_max) in cycles per pixel with 0 < q_min < q_max <= 0.5, by
    default from 12 / the shorter side up to where the rounding noise grows to
    a fifth of the power, at most 0.4.  ``wavelengths``: the fit range instead
    as (shortest, longest) wavelengths in metres, made cycles per pixel by the
    pixel's size (the image's own ``dx`` and ``dy``, else ``pixel_size``, one
    length or (dx, dy); the geometric mean of the two sides), as
    ``orvane-batch --psd-range 4um:64um`` does.  Raises ValueError, saying
    why, for an image it cannot estimate or a fit range that is none, and
    TypeError for an array that does not hold real numbers."""
    if wavelengths is not None:
        if fit_range is not None:
            raise ValueError("give the fit range either in cycles per pixel or as wavelengths, not both")
        fit_range = _cycles_of(wavelengths, image, pixel_size)
    result = PsdResult(_orvane.psd_dimension(_image(image), window, fit_range))
    dx, dy = _pixel_sides(image, pixel_size)
    result.pixel_size_m = (dx * dy) ** 0.5 if dx > 0 and dy > 0 else None
    if result.pixel_size_m:
        result.q_per_m = numpy.exp(numpy.asarray(result.ln_q, dtype=float)) / result.pixel_size_m
        result.fit_range_per_m = tuple(q / result.pixel_size_m for q in result.fit_range)
    else:
        result.q_per_m = result.fit_range_per_m = None
    return result


def _pixel_sides(image, pixel_size):
    """(dx, dy) in metres: the Image's own, else pixel_size's, else (0, 0)."""
    if getattr(image, "dx", None) and getattr(image, "dy", None):
        return float(image.dx), float(image.dy)
    size = _pixel_size(pixel_size)
    if size is None:
        return 0.0, 0.0
    dx, dy = size if isinstance(size, tuple) else (size, size)
    return float(dx), float(dy)


def _cycles_of(wavelengths, image, pixel_size):
    """(q_min, q_max) in cycles per pixel of (shortest, longest) wavelengths,
    as orvane-batch --psd-range makes them."""
    dx, dy = _pixel_sides(image, pixel_size)
    return _orvane.cycles_of_wavelengths(wavelengths, dx, dy)


class WhittleResult(_Fields):
    """The Whittle estimate: a debiased likelihood fit of the whole 2-D
    periodogram.  ``d`` with its 95 % interval (``d_low``, ``d_high``),
    ``hurst`` = 3 - d and its standard error, ``aniso_ratio`` (>= 1: how many
    times longer the features are along their long direction than across) and
    ``aniso_angle`` (that direction in degrees counter-clockwise from the
    rows, y up, in [0, 180)), the model's ``variance``, ``crossover`` (pixels:
    the scale above which the surface stops being self-affine) and white
    ``noise`` variance, the fit's ``iterations``, ``converged`` and the
    ``frequencies`` fitted, and ``flags`` (out_of_range, no_convergence)."""

    def __repr__(self):
        return (f"WhittleResult(d={format_number(self.d)}, interval=({format_number(self.d_low)}, "
                f"{format_number(self.d_high)}), aniso_ratio={format_number(self.aniso_ratio)}, "
                f"aniso_angle={format_number(self.aniso_angle)}"
                + (f", flags={self.flags}" if self.flags else "") + ")")


def whittle_dimension(image):
    """The dimension and anisotropy from a debiased Whittle likelihood fit of
    the image's whole 2-D periodogram, at its full depth (see WhittleResult).
    Raises ValueError, saying why, for an image it cannot estimate (smaller
    than 16 x 16, flat, or holding a value that is not finite), and TypeError
    for an array that does not hold real numbers."""
    return WhittleResult(_orvane.whittle_dimension(_image(image)))


def dimension_map(image, window=64, step=None):
    """The local Whittle dimension of every window of ``window`` x ``window``
    pixels, ``step`` pixels apart (by default half the window), as a 2-D
    float64 array: element [r, c] is D of the window whose top-left pixel is
    (row r * step, column c * step); NaN where a window cannot be estimated.
    The windows run on all cores.  Raises ValueError for a window smaller
    than 16 or larger than the image, or a step smaller than 1."""
    if step is None:
        step = max(1, int(window) // 2)
    return _orvane.dimension_map(_image(image), int(window), int(step))


class SurfaceParameters(_Fields):
    """The ISO 25178 height parameters above the least-squares plane: ``sa``
    (mean |z|), ``sq`` (root mean square), ``ssk`` (skewness), ``sku``
    (kurtosis), ``sz`` (highest peak less lowest pit), in metres with a
    height scale and otherwise in the array's own unit; and the hybrid
    ``sdq`` (root mean square gradient) and ``sdr`` (developed interfacial
    area ratio, in percent), from each 2 x 2 cell's slopes, NaN unless both the pixel
    size and the height scale are given."""

    def __repr__(self):
        return "SurfaceParameters(" + ", ".join(f"{k}={format_number(getattr(self, k))}" for k in PARAMS_COLUMNS) + ")"


def surface_parameters(image, pixel_size=None, height_scale=None):
    """The surface parameters of an image (see SurfaceParameters).
    ``pixel_size``: the pixel's size in metres, one number or (dx, dy), by
    default an Image's own (read_image's) when it has one;
    ``height_scale``: metres per unit of the array's values.  Raises
    ValueError for an image smaller than 2 x 2 or holding a value that is not
    finite, or a size that is not a positive length."""
    if pixel_size is None and getattr(image, "dx", None) and getattr(image, "dy", None):
        pixel_size = (image.dx, image.dy)
    return SurfaceParameters(_orvane.surface_parameters(_image(image), _pixel_size(pixel_size),
                                                        _height_scale(height_scale)))


def _analyse_one(path, psd, psd_window, psd_range, whittle, params, pixel_size, height_scale, psd_wavelengths):
    # Files run side by side, so each transform keeps to one thread.
    _orvane.set_transform_threads(1)
    return _orvane.analyse_file(path, psd, psd_window, psd_range, whittle, params, pixel_size, height_scale,
                                psd_wavelengths)


def analyse_files(paths, client=None, psd=True, psd_window="hann", psd_range=None, whittle=False, params=False,
                  pixel_size=None, height_scale=None, psd_wavelengths=None):
    """Analyses picture files as ``orvane-batch`` does and returns a pandas
    DataFrame with its CSV columns (``psd_*`` with ``psd``, the Whittle
    estimate's columns with ``whittle``, the surface parameters with
    ``params``, and last ``dx`` and ``dy``, the pixel's size in metres: the
    file's, else ``pixel_size``'s, NaN when neither gives it, and ``missing``,
    the share of points not measured) and an ``error``
    column, one row per file (per page of a TIFF stack, named file#page), in the
    order given.  A file that fails gets a row with its error and the others go on.
    ``pixel_size`` and ``height_scale`` are as surface_parameters takes them;
    ``psd_wavelengths`` is the fit range as (shortest, longest) wavelengths in
    metres, for files whose pixel size is known (``--psd-range 4um:64um``).

    Without ``client`` the files run on local threads, one per core.  With a
    ``dask.distributed.Client`` each file is a task on that cluster, whose
    workers read the files themselves (so the paths must be valid there and
    the workers need orvane installed).  Files side by side keep each
    transform to one thread."""
    import pandas

    if isinstance(paths, (str, bytes)) or hasattr(paths, "__fspath__"):
        raise TypeError("paths must be a list of file names; for one file, pass [path]")
    paths = [_path(p) for p in paths]
    pixel_size, height_scale = _pixel_size(pixel_size), _height_scale(height_scale)
    if psd_range is not None:
        # The same check as psd_dimension's, before any file is read.
        _orvane.check_fit_range(psd_range)
    if psd_wavelengths is not None:
        _orvane.check_wavelengths(psd_wavelengths)
    arguments = (psd, psd_window, psd_range, whittle, params, pixel_size, height_scale, psd_wavelengths)
    if client is None:
        workers = max(1, min(available_cores(), len(paths)))
        if workers == 1:
            per_file = [_orvane.analyse_file(p, *arguments) for p in paths]
        else:
            # The user's own setting is given back afterwards.
            setting = _orvane.transform_threads()
            try:
                with ThreadPoolExecutor(max_workers=workers) as pool:
                    per_file = list(pool.map(lambda p: _analyse_one(p, *arguments), paths))
            finally:
                _orvane.set_transform_threads(setting)
    else:
        futures = client.map(_analyse_one, paths, *[[a] * len(paths) for a in arguments], pure=False)
        per_file = client.gather(futures)
    columns = (COLUMNS + (PSD_COLUMNS if psd else []) + (WHITTLE_COLUMNS if whittle else []) +
               (PARAMS_COLUMNS if params else []) + PIXEL_COLUMNS + ["error"])
    rows = [row for rows in per_file for row in rows]
    frame = pandas.DataFrame.from_records(rows, columns=columns)
    for name in ("width", "height", "padded_width", "padded_height") + (("psd_bins",) if psd else ()):
        frame[name] = frame[name].astype("Int64")
    return frame
