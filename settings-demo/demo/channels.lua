function Grabbers.demo.GetChans(Grabber)
	Tvrn.AddChannel(Grabber,{
		ID="films",
		XML_ID="films.demo.tavrin",
		Name="Demo Films",
		Icon={Source="https://tavrin.invalid/icons/films.png",},
		})
	Tvrn.AddChannel(Grabber,{
		ID="kids",
		XML_ID="kids.demo.tavrin",
		Name="Demo Kids",
		Icon={Source="https://tavrin.invalid/icons/kids.png",},
		})
	Tvrn.AddChannel(Grabber,{
		ID="news",
		XML_ID="news.demo.tavrin",
		Name="Demo News",
		Icon={Source="https://tavrin.invalid/icons/news.png",},
		})
	Tvrn.AddChannel(Grabber,{
		ID="one",
		XML_ID="one.demo.tavrin",
		Name="Demo One",
		Icon={Source="https://tavrin.invalid/icons/one.png",},
		})
	Tvrn.AddChannel(Grabber,{
		ID="two",
		XML_ID="two.demo.tavrin",
		Name="Demo Two",
		Icon={Source="https://tavrin.invalid/icons/two.png",},
		})
end
