import _thread
import threading
import time


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: builds the package from source (minutes); run on its own")


def interrupt_main_after(seconds):
    """Sends Ctrl-C to the main thread after `seconds`; returns a list that
    then holds the time.perf_counter() at which it was sent."""
    sent = []

    def interrupt():
        time.sleep(seconds)
        sent.append(time.perf_counter())
        _thread.interrupt_main()

    threading.Thread(target=interrupt).start()
    return sent
