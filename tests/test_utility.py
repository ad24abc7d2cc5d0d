import pytest

from ombrix.cpu.pybind import utility

VCM = utility.VerbosityContextManager


@pytest.fixture(autouse=True)
def restore_level():
    yield
    utility.set_verbosity_level(utility.Info)


def test_initial_level_is_info():
    from conftest import run_python

    out = run_python("from ombrix.cpu.pybind import utility as u; print(u.get_verbosity_level() == u.VerbosityLevel.Info)")
    assert out.strip() == b"True"


@pytest.mark.parametrize(
    "value, expected",
    [(utility.Debug, "<VerbosityLevel.Debug: 3>"), (0, "<VerbosityLevel.Error: 0>"), (1, "<VerbosityLevel.Warning: 1>"),
     (7, "<VerbosityLevel.Info: 2>"), (-1, "<VerbosityLevel.Info: 2>"), (2**31 - 1, "<VerbosityLevel.Info: 2>")],
)
def test_set_and_get(value, expected):
    assert utility.set_verbosity_level(value) is None
    got = utility.get_verbosity_level()
    assert repr(got) == expected
    assert got is not utility.get_verbosity_level()


@pytest.mark.parametrize("bad, exc", [("Debug", TypeError), (2**31, OverflowError), (1.0, TypeError), (None, TypeError)])
def test_bad_levels_leave_level_unchanged(bad, exc):
    utility.set_verbosity_level(utility.Warning)
    with pytest.raises(exc):
        utility.set_verbosity_level(bad)
    with pytest.raises(exc):
        VCM(bad)
    assert utility.get_verbosity_level() == utility.Warning


def test_keyword_and_argument_errors():
    utility.set_verbosity_level(verbosity_level=utility.Error)
    assert utility.get_verbosity_level() == utility.Error
    with pytest.raises(TypeError):
        utility.set_verbosity_level()
    with pytest.raises(TypeError):
        utility.set_verbosity_level(level=1)
    with pytest.raises(TypeError):
        utility.get_verbosity_level(1)
    with pytest.raises(TypeError):
        VCM(1).__exit__(None, None)


def test_context_manager():
    utility.set_verbosity_level(utility.Warning)
    with VCM(utility.Error) as m:
        assert m is None
        assert utility.get_verbosity_level() == utility.Error
    assert utility.get_verbosity_level() == utility.Warning
    with pytest.raises(ZeroDivisionError):
        with VCM(3):
            assert utility.get_verbosity_level() == utility.Debug
            1 / 0
    assert utility.get_verbosity_level() == utility.Warning


def test_context_manager_unpaired_and_nested():
    utility.set_verbosity_level(utility.Error)
    assert VCM(utility.Debug).__exit__(None, None, None) is None
    assert utility.get_verbosity_level() == utility.Info
    utility.set_verbosity_level(utility.Error)
    m = VCM(utility.Debug)
    with m:
        with m:
            pass
        assert utility.get_verbosity_level() == utility.Debug
    assert utility.get_verbosity_level() == utility.Debug
    VCM(1).__exit__(_t=None, _v=None, _tb=None)


def test_reset_print_function():
    utility.set_verbosity_level(utility.Debug)
    assert utility.reset_print_function() is None
    assert utility.get_verbosity_level() == utility.Debug


def test_signatures():
    assert utility.set_verbosity_level.__text_signature__ == "(verbosity_level)"
    assert utility.get_verbosity_level.__text_signature__ == "()"
    assert VCM.__exit__.__text_signature__ == "($self, _t, _v, _tb)"
    assert VCM.__enter__.__text_signature__ == "($self)"
