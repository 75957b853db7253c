def pytest_configure(config):
    config.addinivalue_line("markers", "slow: builds the package from source (minutes); run on its own")
