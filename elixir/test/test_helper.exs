if System.get_env("WEXLO_PACKER", "") == "" do
  IO.puts("WEXLO_PACKER is not set: the tests that run the packer are excluded")
  ExUnit.start(exclude: [:packer])
else
  if reason = Wexlo.FixtureProject.windows_stub_missing() do
    IO.puts("Skipping the Windows release test: " <> reason)
  end

  ExUnit.start()
end
